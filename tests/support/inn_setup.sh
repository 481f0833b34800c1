#!/usr/bin/env bash
# Installs Debian's INN 2, fills one newsgroup with articles of known dates
# and serves it to readers on 127.0.0.1, for the real-server test of the NNTP
# client (tst_nntp_inn). Needs root. Every run starts from an empty spool, so
# article numbers and dates are always the same.
#
#   bash tests/support/inn_setup.sh          install, configure, fill, start
#   bash tests/support/inn_setup.sh stop     stop the daemons this script started
#                                            and remove the manifest
#
# What the test needs to know is written to $manifest (key=value lines).
set -euo pipefail

state=/var/lib/pointwind-inn
manifest=$state/inn.env
feed_port=${POINTWIND_INN_FEED_PORT:-11119}      # innd, feeding peers only
reader_port=${POINTWIND_INN_READER_PORT:-11120}  # nnrpd, open to everyone
auth_port=${POINTWIND_INN_AUTH_PORT:-11121}      # nnrpd, login required
tls_port=${POINTWIND_INN_TLS_PORT:-11122}        # nnrpd -S, TLS from the first byte, open
group=alt.test.pointer
count=500
first_date=1704067200   # 2024-01-01 00:00:00 UTC
step=3600               # one article an hour
user=pointwind
password=Wind-pass.42
newsbin=/usr/lib/news/bin
tls_dir=$state/tls   # a throwaway authority and the readers' certificate

if [[ $(id -u) -ne 0 ]]; then
    echo "inn_setup.sh: needs root (installs a package and starts daemons)" >&2
    exit 1
fi

as_news() { su -s /bin/sh news -c "$*"; }

port_open() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }

stop_daemons() {
    local pidfile pid port
    # The manifest tells the tests a server is there: it goes first.
    rm -f "$manifest"
    # innd shuts down cleanly (and removes its pid file) when asked.
    if [[ -x $newsbin/ctlinnd ]] && port_open "$feed_port"; then
        as_news "$newsbin/ctlinnd -t 10 shutdown pointwind" >/dev/null 2>&1 || true
    fi
    for pidfile in /run/news/nnrpd-"$reader_port".pid /run/news/nnrpd-"$auth_port".pid \
        /run/news/nnrpd-"$tls_port".pid /run/news/innd.pid; do
        [[ -f $pidfile ]] || continue
        pid=$(cat "$pidfile" 2>/dev/null || true)
        # A stale file may name a process id that now belongs to another program.
        if [[ -n $pid ]] && grep -qxE 'innd|nnrpd' "/proc/$pid/comm" 2>/dev/null; then
            kill "$pid" 2>/dev/null || true
            for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
        fi
        rm -f "$pidfile"
    done
    for port in "$feed_port" "$reader_port" "$auth_port" "$tls_port"; do
        for _ in $(seq 200); do port_open "$port" || break; sleep 0.1; done
        if port_open "$port"; then
            echo "inn_setup.sh: 127.0.0.1:$port is still taken" >&2
            return 1
        fi
    done
}

if [[ ${1:-} == stop ]]; then
    stop_daemons
    exit 0
fi

# inn.conf: set key to value, replacing a commented or active line.
set_conf() {
    local key=$1 value=$2 file=/etc/news/inn.conf
    if grep -qE "^#?${key}:" "$file"; then
        sed -i -E "s|^#?${key}:.*|${key}: ${value}|" "$file"
    else
        printf '%s: %s\n' "$key" "$value" >>"$file"
    fi
}

wait_port() {
    local port=$1
    for _ in $(seq 100); do
        if port_open "$port"; then return 0; fi
        sleep 0.1
    done
    echo "inn_setup.sh: nothing answers on 127.0.0.1:$port" >&2
    return 1
}

# --- Install ----------------------------------------------------------------
# The maintainer scripts would start innd on port 119 on every address, and
# the post-install fails until inn.conf names the site; so install with
# service starts forbidden, name the site, then finish the configuration.
if ! dpkg-query -W -f='${Status}' inn2 2>/dev/null | grep -q 'install ok installed'; then
    made_policy=0
    if [[ ! -e /usr/sbin/policy-rc.d ]]; then
        printf '#!/bin/sh\nexit 101\n' >/usr/sbin/policy-rc.d
        chmod +x /usr/sbin/policy-rc.d
        made_policy=1
    fi
    export DEBIAN_FRONTEND=noninteractive
    if ! dpkg-query -W -f='${Status}' inn2 2>/dev/null | grep -q 'unpacked\|half-configured'; then
        apt-get update -qq
        apt-get install -y -qq --no-install-recommends inn2 || true
    fi
    set_conf domain test.invalid
    set_conf fromhost test.invalid
    set_conf pathhost pointwind.test.invalid
    dpkg --configure -a
    ((made_policy)) && rm -f /usr/sbin/policy-rc.d
fi

# The certificates below are made with the openssl command.
if ! command -v openssl >/dev/null; then
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends openssl
fi

# --- Configure --------------------------------------------------------------
stop_daemons
mkdir -p "$state"
set_conf domain test.invalid
set_conf fromhost test.invalid
set_conf pathhost pointwind.test.invalid
set_conf server 127.0.0.1
set_conf bindaddress 127.0.0.1
set_conf bindaddress6 '"::1"'
set_conf port "$feed_port"
set_conf artcutoff 0
set_conf nnrpdloadlimit 0
set_conf organization '"Pointwind test site"'
install -d -o news -g news /run/news

# TLS for the readers: an authority of our own (the tests trust it through
# SSL_CERT_FILE) signs a certificate for 127.0.0.1 and localhost. Kept
# across runs; the key is for news alone.
mkdir -p "$tls_dir"
if [[ ! -s $tls_dir/ca.pem || ! -s $tls_dir/server.pem || ! -s $tls_dir/server.key ]]; then
    ec=(-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 3650)
    openssl req -x509 "${ec[@]}" -subj "/CN=Pointwind INN test authority" \
        -addext basicConstraints=critical,CA:TRUE \
        -keyout "$tls_dir/ca.key" -out "$tls_dir/ca.pem" 2>/dev/null
    openssl req -x509 "${ec[@]}" -subj "/CN=localhost" \
        -addext subjectAltName=IP:127.0.0.1,DNS:localhost \
        -CA "$tls_dir/ca.pem" -CAkey "$tls_dir/ca.key" \
        -keyout "$tls_dir/server.key" -out "$tls_dir/server.pem" 2>/dev/null
fi
set_conf tlscertfile "$tls_dir/server.pem"
set_conf tlskeyfile "$tls_dir/server.key"

# Start from an empty spool: same numbers and dates on every run.
rm -rf /var/spool/news/articles/* /var/spool/news/overview/*
rm -f /var/lib/news/history*
cat >/var/lib/news/active <<EOF
control 0000000000 0000000001 n
control.cancel 0000000000 0000000001 n
junk 0000000000 0000000001 n
$group 0000000000 0000000001 y
EOF
: >/var/lib/news/active.times
: >/var/lib/news/history
chown news:news /var/lib/news/active /var/lib/news/active.times /var/lib/news/history
as_news "cd /var/lib/news && $newsbin/makedbz -i -o"

# Readers: one server open to everyone, one that wants a login.
printf '%s:%s\n' "$user" "$(perl -e 'print crypt($ARGV[0], q($6$pointwind$))' "$password")" >"$state/passwd"
cat >"$state/readers-open.conf" <<EOF
auth "everyone" {
    hosts: "127.0.0.1"
    default: "<reader>"
}
access "everyone" {
    users: "<reader>"
    newsgroups: "*"
    access: RP
}
EOF
cat >"$state/readers-auth.conf" <<EOF
auth "login" {
    hosts: "127.0.0.1"
    auth: "ckpasswd -f $state/passwd"
}
access "login" {
    users: "$user"
    newsgroups: "*"
    access: RP
}
EOF
chown -R news:news "$state"
chmod 600 "$state/passwd" "$tls_dir/server.key" "$tls_dir/ca.key"
chmod 644 "$tls_dir/ca.pem" "$tls_dir/server.pem"

# --- Start and fill ---------------------------------------------------------
as_news "$newsbin/innd -c 0"
wait_port "$feed_port"

/usr/bin/python3 - "$feed_port" "$group" "$count" "$first_date" "$step" <<'EOF'
# Feeds the articles in date order by IHAVE, as a peer would.
import socket, sys, time
port, group, count, first, step = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4]), int(sys.argv[5])
s = socket.create_connection(("127.0.0.1", int(port)), timeout=30)
f = s.makefile("rwb")
def reply():
    line = f.readline().decode("latin-1")
    if not line:
        sys.exit("innd closed the connection")
    return line
greeting = reply()
if not greeting.startswith("200"):
    sys.exit("innd greeting: " + greeting)
for n in range(1, count + 1):
    mid = "<%d.pointwind@test.invalid>" % n
    date = time.strftime("%a, %d %b %Y %H:%M:%S +0000", time.gmtime(first + (n - 1) * step))
    f.write(("IHAVE %s\r\n" % mid).encode()); f.flush()
    r = reply()
    if not r.startswith("335"):
        sys.exit("IHAVE %d: %s" % (n, r))
    art = ("Path: pointwind.test.invalid!not-for-mail\r\n"
           "From: poster%d@example.invalid (Poster %d)\r\n"
           "Newsgroups: %s\r\n"
           "Subject: Pointwind test article %d\r\n"
           "Date: %s\r\n"
           "Message-ID: %s\r\n"
           "\r\n"
           "Body of article %d.\r\n.\r\n") % (n, n, group, n, date, mid, n)
    f.write(art.encode()); f.flush()
    r = reply()
    if not r.startswith("235"):
        sys.exit("article %d: %s" % (n, r))
f.write(b"QUIT\r\n"); f.flush()
reply()
EOF

# A cancelled first article: GROUP keeps the old low mark, HEAD of it is 423.
as_news "$newsbin/ctlinnd -s cancel '<1.pointwind@test.invalid>'"

start_reader() {
    local port=$1 conf=$2 flags=${3:-}
    as_news "$newsbin/nnrpd -D -b 127.0.0.1 -p $port -c $conf $flags"
    wait_port "$port"
}
# The plain readers offer STARTTLS, since inn.conf names a certificate.
start_reader "$reader_port" "$state/readers-open.conf"
start_reader "$auth_port" "$state/readers-auth.conf"
start_reader "$tls_port" "$state/readers-open.conf" -S

cat >"$manifest" <<EOF
READER_PORT=$reader_port
AUTH_PORT=$auth_port
GROUP=$group
COUNT=$count
FIRST_DATE=$first_date
STEP=$step
CANCELLED=1
USER=$user
PASSWORD=$password
TLS_PORT=$tls_port
CA_FILE=$tls_dir/ca.pem
EOF
echo "INN serves $group ($count articles) on 127.0.0.1:$reader_port (open), :$auth_port (login)" \
    "and :$tls_port (SSL/TLS); the plain ones offer STARTTLS"
