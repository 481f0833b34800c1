#include "common/modMain.h"

#include <QTest>
#include <QTimeZone>

using namespace modMain;

class tst_modMain : public QObject
{
    Q_OBJECT

private slots:
    void GetStringBetween_markers();
    void GetReplyCode_blocks();
    void AgeInDays_hourBoundariesAndHalves();
    void AgeInDays_comparesInUtc();
};

void tst_modMain::GetStringBetween_markers()
{
    const struct {
        const char *text;
        qint32 position;
        const char *start, *end, *result;
        qint32 positionAfter;
    } rows[] = {
        {"(abc)", 1, "(", ")", "abc", 5},
        {"(abc)", 3, "[", ")", "", 1},        // start missing: back to 1
        {"xx(abc", 2, "(", ")", "", 2},       // end missing: position kept
        {"(a)(b)", 2, "(", ")", "b", 6},      // searches from the position
        {"(a)b)", 1, "(", ")", "a", 3},
        {"from: me\r\n", 1, "From: ", "\r\n", "", 1},
        {"(abc)", 99, "(", ")", "", 1},
        {"(abc)", -7, "(", ")", "abc", 5},    // not counted from the end
        {"ab)", 1, ")", "", "", 4},           // empty end marker at the very end
    };
    for (const auto &row : rows) {
        qint32 position = row.position;
        QCOMPARE(GetStringBetween(row.text, position, row.start, row.end), QString(row.result));
        QCOMPARE(position, row.positionAfter);
    }
}

void tst_modMain::GetReplyCode_blocks()
{
    QCOMPARE(GetReplyCode("221 42 <a@b> head\r\n"), 221);
    QCOMPARE(GetReplyCode("205\r\n"), 205);
    for (const char *block : {"205\r", "", "abc def\r\n", "2a1 x\r\n", " 221 x\r\n", "+21 x\r\n"})
        QVERIFY2(GetReplyCode(block) == 0, block);
}

static QDateTime Utc(int d, int h, int mi)
{
    return QDateTime(QDate(2005, 1, d), QTime(h, mi), QTimeZone::utc());
}

void tst_modMain::AgeInDays_hourBoundariesAndHalves()
{
    const QDateTime noon = Utc(10, 12, 0);
    const struct {
        const char *date;
        QDateTime now;
        double age;
    } rows[] = {
        {"", noon, 0},
        {"10/01/2005 12:00", noon, 0},                 // unreadable
        {"31/02/2005 12:00:00", noon, 0},
        {"10/01/2005 10:59:00", Utc(10, 11, 1), 0},    // 2 minutes, one boundary
        {"09/01/2005 12:01:00", Utc(10, 11, 59), 1.0}, // 23 h 58 min, 23 boundaries
        {"10/01/2005 06:00:00", noon, 0.2},            // 0.25
        {"09/01/2005 18:00:00", noon, 0.8},            // 0.75
        {"09/01/2005 06:00:00", noon, 1.2},            // 1.25
        {"10/01/2005 03:00:00", noon, 0.4},            // 0.375
        {"10/01/2005 18:00:00", noon, -0.2},
        {"31/12/2004 12:00:00", noon, 10.0},
        {"01/01/1970 00:00:00", Utc(1, 0, 0), 12784.0}, // leap days counted
    };
    for (const auto &row : rows)
        QCOMPARE(AgeInDays(row.date, row.now), row.age);
}

void tst_modMain::AgeInDays_comparesInUtc()
{
    // The same instant seen five hours east of UTC: the age must not move.
    const QDateTime east = Utc(10, 12, 0).toTimeZone(QTimeZone(5 * 3600));
    QCOMPARE(AgeInDays("10/01/2005 06:00:00", east), 0.2);

    SetPresentMomentSource([east] { return east; });
    QCOMPARE(AgeInDays("09/01/2005 06:00:00"), 1.2);
    SetPresentMomentSource({});
    const QString hourAgo =
        QDateTime::currentDateTimeUtc().addSecs(-3600).toString("dd/MM/yyyy hh:mm:ss");
    QVERIFY(AgeInDays(hourAgo) >= 0.0 && AgeInDays(hourAgo) <= 0.1);
}

QTEST_GUILESS_MAIN(tst_modMain)
#include "tst_modMain.moc"
