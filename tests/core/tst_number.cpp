#include <QTest>

#include "number.h"

using fwprep::parseInt16;

class TestNumber : public QObject {
    Q_OBJECT
private slots:
    void parse_data();
    void parse();
};

void TestNumber::parse_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<int>("value");

    QTest::newRow("zero") << QByteArray("0") << true << 0;
    QTest::newRow("plain") << QByteArray("42") << true << 42;
    QTest::newRow("leading zeros") << QByteArray("0042") << true << 42;
    QTest::newRow("spaces around") << QByteArray("  42  ") << true << 42;
    QTest::newRow("tabs around") << QByteArray("\t-7\t") << true << -7;
    QTest::newRow("plus sign") << QByteArray("+5") << true << 5;
    QTest::newRow("largest") << QByteArray("32767") << true << 32767;
    QTest::newRow("smallest") << QByteArray("-32768") << true << -32768;
    QTest::newRow("minus zero") << QByteArray("-0") << true << 0;
    QTest::newRow("one past largest") << QByteArray("32768") << false << 0;
    QTest::newRow("one past smallest") << QByteArray("-32769") << false << 0;
    QTest::newRow("huge") << QByteArray("99999999999999999999999") << false << 0;
    QTest::newRow("letters") << QByteArray("abc") << false << 0;
    QTest::newRow("fraction") << QByteArray("3.5") << false << 0;
    QTest::newRow("exponent") << QByteArray("1e2") << false << 0;
    QTest::newRow("hex notation") << QByteArray("&H10") << false << 0;
    QTest::newRow("only spaces") << QByteArray("   ") << false << 0;
    QTest::newRow("empty") << QByteArray("") << false << 0;
    QTest::newRow("sign alone") << QByteArray("-") << false << 0;
    QTest::newRow("space after sign") << QByteArray("- 5") << false << 0;
    QTest::newRow("two signs") << QByteArray("+-5") << false << 0;
    QTest::newRow("space inside") << QByteArray("1 2") << false << 0;
    QTest::newRow("trailing letter") << QByteArray("12a") << false << 0;
    QTest::newRow("newline around") << QByteArray("5\n") << false << 0;
    QTest::newRow("arabic-indic digits") << QByteArray("\xD9\xA1\xD9\xA2") << false << 0;
    QTest::newRow("fullwidth digit") << QByteArray("\xEF\xBC\x95") << false << 0;
}

void TestNumber::parse()
{
    QFETCH(QByteArray, text);
    QFETCH(bool, valid);
    QFETCH(int, value);
    const auto parsed = parseInt16(std::string_view(text.constData(), static_cast<std::size_t>(text.size())));
    QCOMPARE(parsed.has_value(), valid);
    if (valid)
        QCOMPARE(int(*parsed), value);
}

QTEST_APPLESS_MAIN(TestNumber)
#include "tst_number.moc"
