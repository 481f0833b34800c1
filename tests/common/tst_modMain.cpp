#include "common/modMain.h"

#include <QTest>
#include <QTimeZone>

using namespace modMain;

class tst_modMain : public QObject
{
    Q_OBJECT

private slots:
    void GetStringBetween_markers_data();
    void GetStringBetween_markers();
    void GetReplyCode_blocks_data();
    void GetReplyCode_blocks();
    void AgeInDays_hours_data();
    void AgeInDays_hours();
    void AgeInDays_comparesInUtc();
    void AgeInDays_usesSuppliedPresentMoment();
};

void tst_modMain::GetStringBetween_markers_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("position");
    QTest::addColumn<QString>("start");
    QTest::addColumn<QString>("end");
    QTest::addColumn<QString>("result");
    QTest::addColumn<int>("positionAfter");

    QTest::newRow("found") << "(abc)" << 1 << "(" << ")" << "abc" << 5;
    QTest::newRow("start missing") << "(abc)" << 3 << "[" << ")" << "" << 1;
    QTest::newRow("end missing keeps position") << "(abc" << 1 << "(" << ")" << "" << 1;
    QTest::newRow("end missing, later start") << "xx(abc" << 2 << "(" << ")" << "" << 2;
    QTest::newRow("empty between") << "a()b" << 1 << "(" << ")" << "" << 3;
    QTest::newRow("searches from position") << "(a)(b)" << 2 << "(" << ")" << "b" << 6;
    QTest::newRow("first end after start") << "(a)b)" << 1 << "(" << ")" << "a" << 3;
    QTest::newRow("long markers") << "From: me\r\nX" << 1 << "From: " << "\r\n" << "me" << 9;
    QTest::newRow("case-sensitive") << "from: me\r\n" << 1 << "From: " << "\r\n" << "" << 1;
    QTest::newRow("end marker inside start not reused") << "<>x>" << 1 << "<>" << ">" << "x" << 4;
    QTest::newRow("position past the end") << "(abc)" << 99 << "(" << ")" << "" << 1;
    QTest::newRow("position zero reads from the start") << "(abc)" << 0 << "(" << ")" << "abc" << 5;
    QTest::newRow("negative position reads from the start") << "(abc)" << -7 << "(" << ")" << "abc"
                                                            << 5;
    QTest::newRow("empty text") << "" << 1 << "(" << ")" << "" << 1;
}

void tst_modMain::GetStringBetween_markers()
{
    QFETCH(QString, text);
    QFETCH(int, position);
    QFETCH(QString, start);
    QFETCH(QString, end);
    QFETCH(QString, result);
    QFETCH(int, positionAfter);
    qint32 pos = position;
    QCOMPARE(GetStringBetween(text, pos, start, end), result);
    QCOMPARE(pos, positionAfter);
}

void tst_modMain::GetReplyCode_blocks_data()
{
    QTest::addColumn<QString>("block");
    QTest::addColumn<int>("code");
    QTest::newRow("status line") << "221 42 <a@b> head\r\n" << 221;
    QTest::newRow("five characters") << "205\r\n" << 205;
    QTest::newRow("four characters") << "205\r" << 0;
    QTest::newRow("empty") << "" << 0;
    QTest::newRow("letters") << "abc def\r\n" << 0;
    QTest::newRow("digit then letter") << "2a1 x\r\n" << 0;
    QTest::newRow("leading blank") << " 221 x\r\n" << 0;
    QTest::newRow("sign") << "+21 x\r\n" << 0;
    QTest::newRow("continuation of a reply") << "Subject: x\r\n" << 0;
}

void tst_modMain::GetReplyCode_blocks()
{
    QFETCH(QString, block);
    QFETCH(int, code);
    QCOMPARE(GetReplyCode(block), code);
}

static QDateTime Utc(int y, int mo, int d, int h, int mi, int s)
{
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s), QTimeZone::utc());
}

void tst_modMain::AgeInDays_hours_data()
{
    QTest::addColumn<QString>("date");
    QTest::addColumn<QDateTime>("now");
    QTest::addColumn<double>("age");
    const QDateTime noon = Utc(2005, 1, 10, 12, 0, 0);

    QTest::newRow("empty") << "" << noon << 0.0;
    QTest::newRow("unreadable") << "10/01/2005 12:00" << noon << 0.0;
    QTest::newRow("impossible date") << "31/02/2005 12:00:00" << noon << 0.0;
    QTest::newRow("same moment") << "10/01/2005 12:00:00" << noon << 0.0;
    // Whole-hour boundaries, not elapsed time: 2 minutes across one
    // boundary count an hour, 58 minutes within one count none.
    QTest::newRow("boundary crossed")
        << "10/01/2005 10:59:00" << Utc(2005, 1, 10, 11, 1, 0) << 0.0;
    QTest::newRow("23 boundaries in 22 h 2 min")
        << "09/01/2005 12:59:00" << Utc(2005, 1, 10, 11, 1, 0) << 1.0;
    QTest::newRow("23 h 58 min within the hours") << "09/01/2005 12:01:00"
                                                  << Utc(2005, 1, 10, 11, 59, 0) << 1.0;
    // Halves go to the even tenth: 6 h = 0.25, 18 h = 0.75, 30 h = 1.25, 42 h = 1.75.
    QTest::newRow("6 h") << "10/01/2005 06:00:00" << noon << 0.2;
    QTest::newRow("18 h") << "09/01/2005 18:00:00" << noon << 0.8;
    QTest::newRow("30 h") << "09/01/2005 06:00:00" << noon << 1.2;
    QTest::newRow("42 h") << "08/01/2005 18:00:00" << noon << 1.8;
    QTest::newRow("3 h") << "10/01/2005 09:00:00" << noon << 0.1;
    QTest::newRow("9 h") << "10/01/2005 03:00:00" << noon << 0.4;
    QTest::newRow("future 6 h") << "10/01/2005 18:00:00" << noon << -0.2;
    QTest::newRow("future 9 h") << "10/01/2005 21:00:00" << noon << -0.4;
    QTest::newRow("leap day counted") << "28/02/2004 12:00:00" << Utc(2004, 3, 1, 12, 0, 0) << 2.0;
    QTest::newRow("across years") << "31/12/2004 12:00:00" << noon << 10.0;
    QTest::newRow("decades") << "01/01/1970 00:00:00" << Utc(2005, 1, 1, 0, 0, 0) << 12784.0;
}

void tst_modMain::AgeInDays_hours()
{
    QFETCH(QString, date);
    QFETCH(QDateTime, now);
    QFETCH(double, age);
    QCOMPARE(AgeInDays(date, now), age);
}

void tst_modMain::AgeInDays_comparesInUtc()
{
    // The same instant written in a zone five hours east of UTC: the age
    // must not move by the offset.
    const QDateTime utc = Utc(2005, 1, 10, 12, 0, 0);
    const QDateTime east = utc.toTimeZone(QTimeZone(5 * 3600));
    QCOMPARE(east.time().hour(), 17);
    QCOMPARE(AgeInDays("10/01/2005 06:00:00", east), 0.2);
    QCOMPARE(AgeInDays("10/01/2005 06:00:00", utc.toLocalTime()), 0.2);
}

void tst_modMain::AgeInDays_usesSuppliedPresentMoment()
{
    SetPresentMomentSource([] { return Utc(2005, 1, 10, 12, 0, 0); });
    QCOMPARE(AgeInDays("09/01/2005 06:00:00"), 1.2);
    QCOMPARE(AgeInDays(""), 0.0);
    SetPresentMomentSource({});
    // Back on the system clock: a date of an hour ago is a day's tenth or less.
    const QString hourAgo =
        QDateTime::currentDateTimeUtc().addSecs(-3600).toString("dd/MM/yyyy hh:mm:ss");
    QVERIFY(AgeInDays(hourAgo) <= 0.1);
    QVERIFY(AgeInDays(hourAgo) >= 0.0);
}

QTEST_GUILESS_MAIN(tst_modMain)
#include "tst_modMain.moc"
