#include "app/modCommandLine.h"

#include "app/Console.h"
#include "app/ResetRun.h"
#include "cache/modFile.h"
#include "cache/modNBZ.h"
#include "common/Error.h"
#include "nntp/CNNTP.h"
#include "ui/modCertificateTrust.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSet>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <vector>

namespace modCommandLine
{

namespace
{

struct Options {
    QString days;
    ResetRun::Overrides overrides;
    ResetRun::Search search = ResetRun::Search::Fast;
    bool noBackup = false;
    bool overwriteBackup = false;
    bool dryRun = false;
    bool json = false;
    bool quiet = false;
    int connections = 1;
    QStringList files;
};

bool WholeNumberText(const QString &text, int low, int high, int &value)
{
    static const QRegularExpression digits(QStringLiteral("^[0-9]{1,9}$"));
    if (!digits.match(text).hasMatch())
        return false;
    value = text.toInt();
    return value >= low && value <= high;
}

// Reads the arguments; an empty text means they are usable, anything else
// is the one-line reason they are not.
QString Parse(const QStringList &arguments, Options &o)
{
    const QStringList withValue = {"--days",     "--server", "--port",       "--user",
                                   "--security", "--search", "--connections"};
    const QStringList flags = {"--no-backup", "--overwrite-backup", "--dry-run", "--json",
                               "--quiet"};
    bool optionsEnd = false;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        QString arg = arguments.at(i);
        if (optionsEnd || !arg.startsWith(QLatin1Char('-')) || arg == QLatin1String("-")) {
            o.files << arg;
            continue;
        }
        if (arg == QLatin1String("--")) {
            optionsEnd = true;
            continue;
        }
        QString value;
        bool inlineValue = false;
        if (const qsizetype eq = arg.indexOf(QLatin1Char('=')); eq > 0) {
            value = arg.mid(eq + 1);
            arg.truncate(eq);
            inlineValue = true;
        }
        if (flags.contains(arg) && !inlineValue) {
            o.noBackup |= arg == QLatin1String("--no-backup");
            o.overwriteBackup |= arg == QLatin1String("--overwrite-backup");
            o.dryRun |= arg == QLatin1String("--dry-run");
            o.json |= arg == QLatin1String("--json");
            o.quiet |= arg == QLatin1String("--quiet");
            continue;
        }
        if (!withValue.contains(arg))
            return QStringLiteral("unknown option %1").arg(arguments.at(i));
        if (!inlineValue) {
            if (i + 1 >= arguments.size())
                return QStringLiteral("%1 needs a value").arg(arg);
            value = arguments.at(++i);
        }
        if (value.isEmpty())
            return QStringLiteral("%1 needs a value").arg(arg);
        int number = 0;
        if (arg == QLatin1String("--days")) {
            if (!WholeNumberText(value, 0, 999, number))
                return QStringLiteral("the day count \"%1\" is not a whole number from 0 to 999")
                    .arg(value);
            o.days = QString::number(number);
        } else if (arg == QLatin1String("--server")) {
            o.overrides.server = value;
        } else if (arg == QLatin1String("--port")) {
            if (!WholeNumberText(value, 1, 65535, number))
                return QStringLiteral("the port \"%1\" is not a number from 1 to 65535").arg(value);
            o.overrides.port = number;
        } else if (arg == QLatin1String("--user")) {
            o.overrides.user = value;
        } else if (arg == QLatin1String("--security")) {
            const QStringList names = {"none", "tls", "starttls"};
            if (!names.contains(value))
                return QStringLiteral("--security is none, tls or starttls, not \"%1\"").arg(value);
            o.overrides.security = int(names.indexOf(value));
        } else if (arg == QLatin1String("--search")) {
            if (value != QLatin1String("fast") && value != QLatin1String("halve"))
                return QStringLiteral("--search is fast or halve, not \"%1\"").arg(value);
            o.search =
                value == QLatin1String("fast") ? ResetRun::Search::Fast : ResetRun::Search::Halve;
        } else if (arg == QLatin1String("--connections")) {
            if (!WholeNumberText(value, 1, 16, o.connections))
                return QStringLiteral("--connections is a whole number from 1 to 16, not \"%1\"")
                    .arg(value);
        }
    }
    if (o.days.isEmpty())
        return QStringLiteral("--days is missing");
    o.files = Console::ExpandWildcards(o.files);
    if (o.files.isEmpty())
        return QStringLiteral("no group cache file given");
    return QString();
}

// The files as the run takes them: each once, in the order first given.
QString CheckFiles(const QStringList &files, QList<std::pair<QString, QString>> &checked)
{
    QSet<QString> seen;
    for (const QString &file : files) {
        const QFileInfo info(file);
        if (!info.exists())
            return QStringLiteral("%1 does not exist").arg(file);
        const QString group = modNBZ::GroupNameFromPath(info.fileName());
        if (!info.isFile() || group.isEmpty())
            return QStringLiteral("%1 is no .nc1 file").arg(file);
        const QString canonical = info.canonicalFilePath();
        if (seen.contains(canonical))
            continue;
        seen.insert(canonical);
        checked.append({info.absoluteFilePath(), group});
    }
    return QString();
}

int Refuse(const QString &why)
{
    Console::Write(stderr, QStringLiteral("pointwind: %1 (see pointwind --help)\n").arg(why));
    return BadUsage;
}

const char *OutcomeName(ResetRun::Outcome outcome)
{
    switch (outcome) {
    case ResetRun::Outcome::Rewritten:
        return "rewritten";
    case ResetRun::Outcome::DryRun:
        return "dry-run";
    case ResetRun::Outcome::Failed:
        break;
    }
    return "failed";
}

// The log rows of several connections, printed as if the files had been done
// one after the other: a file's rows wait until every file before it is done.
class OrderedLog
{
  public:
    explicit OrderedLog(qsizetype files) : m_colWaiting(files), m_colDone(files, false) {}

    void Write(int file, std::FILE *stream, const QString &text)
    {
        // A row that comes after its file was printed (a connection's
        // goodbye) waits for the last file.
        if (file == m_intNext || m_intNext >= m_colDone.size())
            Console::Write(stream, text);
        else if (file < m_intNext)
            m_colLate.append({stream, text});
        else
            m_colWaiting[file].append({stream, text});
    }

    void Done(int file)
    {
        m_colDone[file] = true;
        while (m_intNext < m_colDone.size() && m_colDone.at(m_intNext)) {
            const auto &rows = ++m_intNext < m_colWaiting.size() ? m_colWaiting.at(m_intNext)
                                                                 : std::as_const(m_colLate);
            for (const auto &[stream, text] : rows)
                Console::Write(stream, text);
        }
    }

    void DoneAll()
    {
        for (int i = 0; i < m_colDone.size(); ++i)
            Done(i);
    }

  private:
    QList<QList<std::pair<std::FILE *, QString>>> m_colWaiting;
    QList<std::pair<std::FILE *, QString>> m_colLate;
    QList<bool> m_colDone;
    int m_intNext = 0;
};

// One connection of the run and the files it takes (indices into all files).
struct Engine {
    std::unique_ptr<ResetRun> run;
    QList<int> files;
    int current = 0; // of `files`
    bool started = false;
    bool ended = false;
};

void PrintSummary(const QList<ResetRun::FileResult> &results, int connections, int status,
                  bool json)
{
    if (json) {
        QJsonArray files;
        for (const ResetRun::FileResult &r : results) {
            const bool found = r.outcome != ResetRun::Outcome::Failed || r.pointer > 0;
            files.append(QJsonObject{
                {"file", r.file},
                {"group", r.group},
                {"outcome", QLatin1String(OutcomeName(r.outcome))},
                {"pointer", found ? QJsonValue(r.pointer) : QJsonValue()},
                {"age", found && r.age ? QJsonValue(*r.age) : QJsonValue()},
                {"requests", r.requests},
                {"rounds", r.rounds},
                {"error", r.error.isEmpty() ? QJsonValue() : QJsonValue(r.error)},
            });
        }
        const QJsonObject summary{{"files", files}, {"connections", connections}, {"exit", status}};
        Console::Write(stdout,
                       QString::fromUtf8(QJsonDocument(summary).toJson(QJsonDocument::Compact)) +
                           QLatin1Char('\n'));
        return;
    }
    for (const ResetRun::FileResult &r : results) {
        QString line = r.group + QStringLiteral(": ");
        if (r.outcome != ResetRun::Outcome::Failed || r.pointer > 0)
            line += QStringLiteral("pointer %1, age %2 day(s), ")
                        .arg(ResetRun::NumberText(r.pointer),
                             r.age ? ResetRun::NumberText(*r.age) : QStringLiteral("?"));
        line += QLatin1String(OutcomeName(r.outcome));
        if (!r.error.isEmpty())
            line += QStringLiteral(" (%1)").arg(r.error);
        Console::Write(stdout, line + QLatin1Char('\n'));
    }
}

} // namespace

bool WantsWindow(const QStringList &arguments)
{
    for (const QString &arg : arguments)
        if (arg.startsWith(QLatin1Char('-')))
            return false;
    return true;
}

QString Usage()
{
    return QStringLiteral(
        "Usage: pointwind --days N [options] FILE.nc1...\n"
        "       pointwind [FILE.nc1...]   (the window)\n"
        "\n"
        "Rewinds the last-read pointer of each group cache file to the article\n"
        "posted N days ago, over one connection to the news server (or several,\n"
        "with --connections).\n"
        "\n"
        "  --days N               days to go back, a whole number from 0 to 999\n"
        "  --server HOST          news server (default: the one in the settings)\n"
        "  --port N               its port\n"
        "  --user NAME            log in as NAME\n"
        "  --security MODE        none, tls or starttls\n"
        "  --no-backup            make no .bak copy\n"
        "  --overwrite-backup     replace an existing .bak; without it a file\n"
        "                         whose .bak exists is not rewritten\n"
        "  --dry-run              search and report, write nothing\n"
        "  --search fast|halve    how to search (default fast)\n"
        "  --connections N        spread the files over N connections, 1 to 16\n"
        "                         (default 1); each logs in once\n"
        "  --json                 print one JSON summary instead of the log\n"
        "  --quiet                no log rows, only the summary\n"
        "  --help, --version\n"
        "\n"
        "The password comes from the settings, from the environment variable\n"
        "POINTWIND_PASSWORD (which takes precedence), or is asked on the terminal.\n"
        "\n"
        "Exit status: 0 every file rewritten (or searched, with --dry-run),\n"
        "1 some failed, 2 bad usage.\n");
}

int Run(const QStringList &arguments)
{
    if (arguments.contains(QStringLiteral("--help"))) {
        Console::Write(stdout, Usage());
        return AllRewritten;
    }
    if (arguments.contains(QStringLiteral("--version"))) {
        Console::Write(stdout, QStringLiteral("pointwind " POINTWIND_VERSION "\n"));
        return AllRewritten;
    }
    Options o;
    if (const QString why = Parse(arguments, o); !why.isEmpty())
        return Refuse(why);
    QList<std::pair<QString, QString>> files;
    if (const QString why = CheckFiles(o.files, files); !why.isEmpty())
        return Refuse(why);

    const bool terminal = Console::IsTerminal(stdin);
    // More connections than files would idle.
    std::vector<Engine> engines(size_t(std::min<qsizetype>(o.connections, files.size())));
    try {
        for (Engine &e : engines)
            e.run = std::make_unique<ResetRun>();
    } catch (const RaisedError &error) {
        Console::Write(stderr,
                       QStringLiteral("pointwind: cannot start: %1\n").arg(error.Description()));
        return SomeFailed;
    }
    for (int i = 0; i < files.size(); ++i)
        engines[size_t(i) % engines.size()].files << i;
    ResetRun *const first = engines.front().run.get();
    first->SetOverrides(o.overrides);
    if (const QString why = first->LoadServerSettings(); !why.isEmpty())
        return Refuse(why);
    if (first->Server().isEmpty())
        return Refuse(QStringLiteral("no news server: give --server or set one in the window "
                                     "(File > Edit NNTP Server)"));
    if (first->LoginWanted()) {
        if (qEnvironmentVariableIsSet("POINTWIND_PASSWORD")) {
            o.overrides.password = qEnvironmentVariable("POINTWIND_PASSWORD");
        } else if (!first->HasPassword() && terminal) {
            Console::Write(
                stderr,
                QStringLiteral("Password for %1 at %2: ").arg(first->UserName(), first->Server()));
            o.overrides.password = Console::ReadLine(false);
        }
    }
    for (Engine &e : engines) {
        e.run->SetOverrides(o.overrides);
        e.run->SetSearch(o.search);
        e.run->SetDryRun(o.dryRun);
        e.run->SetMakeBackup(!o.noBackup);
        e.run->SetReconnects(1);
    }

    // Questions go to the terminal; without one the cautious answer is taken.
    const auto oldBackup = modFile::SetBackupQuestion([&](const QString &text) -> int {
        if (o.overwriteBackup)
            return modFile::AnswerYes;
        QString question = text;
        question.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
        if (!terminal) {
            Console::Write(stderr, QStringLiteral("pointwind: %1 No: the file is not rewritten "
                                                  "(--overwrite-backup replaces the backup)\n")
                                       .arg(question));
            return modFile::AnswerCancel;
        }
        Console::Write(stderr, question + QStringLiteral(" [y]es, [n]o (keep it, rewrite without a "
                                                         "backup), [c]ancel: "));
        const QString answer = Console::ReadLine(true).trimmed().toLower();
        if (answer.startsWith(QLatin1Char('y')))
            return modFile::AnswerYes;
        if (answer.startsWith(QLatin1Char('n')))
            return modFile::AnswerNo;
        return modFile::AnswerCancel;
    });
    // Each connection meets the same certificate: the user is asked once.
    QHash<QString, bool> certificateAnswers;
    const auto oldCertificate = modCertificateTrust::SetCertificateQuestion(
        [&](const QString &server, const QString &reason, const QString &fingerprint) {
            const QString key = server + QLatin1Char(' ') + fingerprint;
            if (const auto known = certificateAnswers.constFind(key);
                known != certificateAnswers.constEnd())
                return *known;
            bool yes = false;
            if (terminal) {
                Console::Write(stderr,
                               QStringLiteral("The certificate of %1 is not trusted: %2.\n"
                                              "SHA-256 fingerprint: %3\n"
                                              "Connect anyway and trust it for %1 from now on? "
                                              "[y/N]: ")
                                   .arg(server, reason, fingerprint));
                yes = Console::ReadLine(true).trimmed().toLower().startsWith(QLatin1Char('y'));
            }
            certificateAnswers.insert(key, yes);
            return yes;
        });

    // Log rows: time, group, message. With --json they go to standard error
    // so that standard output holds the summary alone.
    FILE *logStream = o.json ? stderr : stdout;
    const bool progress = !o.quiet && files.size() > 1 && Console::IsTerminal(stderr);
    OrderedLog log(files.size());
    QEventLoop loop;
    const auto filesOf = [&](const Engine &e) {
        QList<std::pair<QString, QString>> own;
        for (int i : e.files)
            own << files.at(i);
        return own;
    };
    // The other connections open once the first has logged in, so that a
    // refused login or an untrusted certificate is met once, not on each.
    const auto startOthers = [&] {
        for (size_t k = 1; k < engines.size(); ++k) {
            Engine &e = engines[k];
            e.started = true;
            if (!e.run->Start(filesOf(e), o.days)) {
                e.ended = true;
                for (int i : std::as_const(e.files))
                    log.Done(i);
            }
        }
    };
    const auto endOf = [&](Engine &e) {
        e.ended = true;
        for (int i : std::as_const(e.files))
            log.Done(i);
        if (std::all_of(engines.cbegin(), engines.cend(),
                        [](const Engine &other) { return other.ended || !other.started; }))
            loop.quit();
    };
    for (Engine &e : engines) {
        Engine *const self = &e;
        ResetRun *const run = e.run.get();
        QObject::connect(run, &ResetRun::FileStarted, run, [&, self](int index) {
            for (int i = self->current; i < index; ++i)
                log.Done(self->files.at(i));
            self->current = index;
            if (progress)
                log.Write(self->files.at(index), stderr,
                          QStringLiteral("group %1 of %2\n")
                              .arg(self->files.at(index) + 1)
                              .arg(files.size()));
            if (self->run.get() == first && !engines.back().started)
                startOthers();
        });
        if (!o.quiet)
            QObject::connect(run, &ResetRun::LogRow, run, [&, self](const QString &text, int) {
                const int file = self->files.at(self->current);
                log.Write(file, logStream,
                          ResetRun::TimeOfDayText() + QLatin1Char(' ') + files.at(file).second +
                              QStringLiteral(": ") + text + QLatin1Char('\n'));
            });
        QObject::connect(run, &ResetRun::RunEnded, &loop, [&, self] { endOf(*self); });
    }

    engines.front().started = true;
    QList<ResetRun::FileResult> results;
    if (first->Start(filesOf(engines.front()), o.days)) {
        if (!engines.front().ended)
            loop.exec();
        // Let the server see the goodbye before the process goes.
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
            if (std::none_of(engines.cbegin(), engines.cend(),
                             [](const Engine &e) { return e.run->Client()->State() == 4; }))
                loop.quit();
        });
        poll.start(10);
        QTimer::singleShot(5000, &loop, &QEventLoop::quit);
        loop.exec();
        log.DoneAll();

        // In the order given. The files of connections never opened share the
        // first connection's failure.
        results.resize(files.size());
        const QList<ResetRun::FileResult> &firstResults = first->Results();
        for (const Engine &e : engines) {
            for (int k = 0; k < e.files.size(); ++k) {
                ResetRun::FileResult &r = results[e.files.at(k)];
                if (e.started && k < e.run->Results().size()) {
                    r = e.run->Results().at(k);
                    continue;
                }
                r.file = files.at(e.files.at(k)).first;
                r.group = files.at(e.files.at(k)).second;
                r.error = firstResults.isEmpty() ? QString() : firstResults.first().error;
            }
        }
    }

    int status = AllRewritten;
    if (results.isEmpty())
        status = SomeFailed;
    for (const ResetRun::FileResult &r : std::as_const(results))
        if (r.outcome == ResetRun::Outcome::Failed)
            status = SomeFailed;
    int connections = 0;
    for (const Engine &e : engines)
        connections += e.run->Connections();
    PrintSummary(results, connections, status, o.json);
    modFile::SetBackupQuestion(oldBackup);
    modCertificateTrust::SetCertificateQuestion(oldCertificate);
    return status;
}

} // namespace modCommandLine
