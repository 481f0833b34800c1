// The data path of CSocket: typed values, GetData/PeekData, BytesReceived.
#include "SocketTestUtil.h"
#include "support/LoopbackPeer.h"

#include <QSignalSpy>
#include <QTest>

using TestSupport::LoopbackPeer;

class tst_CSocketData : public QObject
{
    Q_OBJECT

private:
    LoopbackPeer *m_peer = nullptr;
    CSocket *m_socket = nullptr;
    // Lets the peer send the bytes and waits until all sit in the buffer.
    bool Deliver(const QByteArray &bytes);

private slots:
    void init();
    void cleanup();
    void getDataLengths_data();
    void getDataLengths();
    void peekLeavesBuffer();
    void emptyBufferLeavesVariable();
    void typedValues_data();
    void typedValues();
    void shortTakeDoesNotReadBeyond();
    void unknownTypeStillRemovesBytes();
    void sendDataBytes_data();
    void sendDataBytes();
    void emptySendKeepsUnsentTail();
};

bool tst_CSocketData::Deliver(const QByteArray &bytes)
{
    const qint32 before = m_socket->BytesReceived();
    return m_peer->Send(bytes)
        && QTest::qWaitFor([&] { return m_socket->BytesReceived() == before + bytes.size(); }, 5000);
}

void tst_CSocketData::init()
{
    m_peer = new LoopbackPeer;
    m_socket = new CSocket;
    QVERIFY(TestSupport::ConnectSocket(*m_socket, *m_peer));
}

void tst_CSocketData::cleanup()
{
    delete m_socket;
    delete m_peer;
}

void tst_CSocketData::getDataLengths_data()
{
    QTest::addColumn<int>("maxLen");
    QTest::addColumn<QByteArray>("taken");
    QTest::addColumn<int>("left");
    QTest::newRow("2 of 5") << 2 << QByteArray("12") << 3;
    QTest::newRow("exactly 5") << 5 << QByteArray("12345") << 0;
    QTest::newRow("0 means all") << 0 << QByteArray("12345") << 0;
    QTest::newRow("negative means all") << -1 << QByteArray("12345") << 0;
    QTest::newRow("more than held means all") << 9 << QByteArray("12345") << 0;
}

void tst_CSocketData::getDataLengths()
{
    QFETCH(int, maxLen);
    QFETCH(QByteArray, taken);
    QFETCH(int, left);
    QVERIFY(Deliver("12345"));
    QByteArray got;
    m_socket->GetData(got, maxLen);
    QCOMPARE(got, taken);
    QCOMPARE(m_socket->BytesReceived(), left);
    // What is left comes next, and new data queues behind it.
    QVERIFY(Deliver("67"));
    m_socket->GetData(got);
    QCOMPARE(got, QByteArray("1234567").mid(taken.size()));
}

void tst_CSocketData::peekLeavesBuffer()
{
    QVERIFY(Deliver("12345"));
    QByteArray got;
    m_socket->GetData(got, 1);
    QCOMPARE(m_socket->BytesReceived(), 4);
    QString peeked;
    m_socket->PeekData(peeked, 2);
    QCOMPARE(peeked, QStringLiteral("23"));
    QCOMPARE(m_socket->BytesReceived(), 4);
    m_socket->PeekData(peeked);
    QCOMPARE(peeked, QStringLiteral("2345"));
    m_socket->GetData(got);
    QCOMPARE(got, QByteArray("2345"));
}

void tst_CSocketData::emptyBufferLeavesVariable()
{
    QString text = QStringLiteral("kept");
    qint32 number = 7;
    QVariant v = 3.5;
    m_socket->GetData(text);
    m_socket->PeekData(number);
    m_socket->GetData(v, SocketDataType::Long);
    QCOMPARE(text, QStringLiteral("kept"));
    QCOMPARE(number, 7);
    QCOMPARE(v, QVariant(3.5));
}

void tst_CSocketData::typedValues_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("type");
    QTest::addColumn<QVariant>("expected");
    QTest::newRow("long 1") << QByteArray::fromHex("01000000") << int(SocketDataType::Long) << QVariant(1);
    QTest::newRow("boolean true") << QByteArray::fromHex("ffff") << int(SocketDataType::Boolean) << QVariant(true);
    QTest::newRow("integer") << QByteArray::fromHex("3412") << int(SocketDataType::Integer)
                             << QVariant::fromValue(qint16(0x1234));
    QTest::newRow("byte") << QByteArray::fromHex("fe") << int(SocketDataType::Byte)
                          << QVariant::fromValue(quint8(0xfe));
    QTest::newRow("double") << QByteArray::fromHex("000000000000f83f") << int(SocketDataType::Double)
                            << QVariant(1.5);
    QTest::newRow("currency") << QByteArray::fromHex("1027000000000000") << int(SocketDataType::Currency)
                              << QVariant::fromValue(SocketCurrency{10000});
    QTest::newRow("date") << QByteArray::fromHex("0000000000c0e240") << int(SocketDataType::Date)
                          << QVariant::fromValue(SocketDate{38400});
    QTest::newRow("bytes") << QByteArray::fromHex("00ff10") << int(SocketDataType::ByteArray)
                           << QVariant(QByteArray::fromHex("00ff10"));
    QTest::newRow("no type is text") << QByteArray("abc") << int(SocketDataType::None) << QVariant(QStringLiteral("abc"));
    QTest::newRow("text, one char a byte") << QByteArray("\xe9\xff") << int(SocketDataType::String)
                                           << QVariant(QString::fromLatin1("\xe9\xff"));
}

void tst_CSocketData::typedValues()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, type);
    QFETCH(QVariant, expected);
    QVERIFY(Deliver(bytes));
    QVariant peeked;
    m_socket->PeekData(peeked, type);
    QCOMPARE(peeked, expected);
    QVariant got;
    m_socket->GetData(got, type);
    QCOMPARE(got, expected);
    QCOMPARE(m_socket->BytesReceived(), 0);
}

void tst_CSocketData::shortTakeDoesNotReadBeyond()
{
    QVERIFY(Deliver(QByteArray::fromHex("05ffffff")));
    qint32 value = -1;
    m_socket->GetData(value, 1);
    QCOMPARE(value, 5); // the three bytes not taken count as 0
    QCOMPARE(m_socket->BytesReceived(), 3);
}

void tst_CSocketData::unknownTypeStillRemovesBytes()
{
    QVERIFY(Deliver(QByteArray::fromHex("0000803f")));
    QVariant v = QStringLiteral("kept");
    m_socket->GetData(v, 4); // single precision has no conversion
    QCOMPARE(v, QVariant(QStringLiteral("kept")));
    QCOMPARE(m_socket->BytesReceived(), 0);
}

void tst_CSocketData::sendDataBytes_data()
{
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("integer 1") << QVariant::fromValue(qint16(1)) << QByteArray::fromHex("0100");
    QTest::newRow("long") << QVariant(0x01020304) << QByteArray::fromHex("04030201");
    QTest::newRow("boolean true") << QVariant(true) << QByteArray::fromHex("ffff");
    QTest::newRow("byte") << QVariant::fromValue(quint8(0x80)) << QByteArray::fromHex("80");
    QTest::newRow("double") << QVariant(1.5) << QByteArray::fromHex("000000000000f83f");
    QTest::newRow("currency") << QVariant::fromValue(SocketCurrency{-1}) << QByteArray::fromHex("ffffffffffffffff");
    QTest::newRow("date") << QVariant::fromValue(SocketDate{38400}) << QByteArray::fromHex("0000000000c0e240");
    QTest::newRow("text") << QVariant(QString::fromLatin1("AUTHINFO \xe9\r\n")) << QByteArray("AUTHINFO \xe9\r\n");
    QTest::newRow("bytes") << QVariant(QByteArray::fromHex("000102")) << QByteArray::fromHex("000102");
}

void tst_CSocketData::sendDataBytes()
{
    QFETCH(QVariant, value);
    QFETCH(QByteArray, bytes);
    m_socket->SendData(value);
    QTRY_COMPARE((m_peer->Pump(), m_peer->Received()), bytes);
}

void tst_CSocketData::emptySendKeepsUnsentTail()
{
    QSignalSpy progress(m_socket, &CSocket::OnSendProgress);
    m_socket->SendData(QString());
    m_socket->SendData(QVariant::fromValue(3.0f)); // no conversion for single precision
    QCOMPARE(progress.count(), 0);
    m_socket->SendData("typed overloads");
    m_socket->SendData(qint16(1));
    QTRY_COMPARE((m_peer->Pump(), m_peer->Received()), QByteArray("typed overloads\x01\x00", 17));
}

QTEST_MAIN(tst_CSocketData)
#include "tst_csocketdata.moc"
