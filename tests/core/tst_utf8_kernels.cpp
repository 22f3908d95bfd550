#include <QTest>

#include <cstdlib>
#include <vector>

#include "cpu.h"
#include "line_scan.h"
#include "utf8.h"
#include "utf8_kernels.h"
#include "utf8_x86.h"

using namespace fwprep;

namespace {

// Where each character of `text` starts, by the rule of utf8.h applied one
// byte at a time, plus the end.
std::vector<std::size_t> charStarts(const QByteArray& text)
{
    std::vector<std::size_t> starts;
    const auto* p = reinterpret_cast<const unsigned char*>(text.constData());
    const auto size = std::size_t(text.size());
    for (std::size_t i = 0; i < size;) {
        starts.push_back(i);
        const int len = utf8::sequenceLength(p + i, size - i);
        i += len == 0 ? 1 : std::size_t(len);
    }
    starts.push_back(size);
    return starts;
}

QByteArray repeated(const QByteArray& unit, int bytes)
{
    QByteArray out;
    while (out.size() < bytes)
        out += unit;
    return out;
}

} // namespace

class TestUtf8Kernels : public QObject {
    Q_OBJECT
private slots:
    void simdLimit_data();
    void simdLimit();
    void kernelInUse();
    void kernels_data();
    void kernels();
};

void TestUtf8Kernels::simdLimit_data()
{
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<int>("limit"); // -1: none
    QTest::newRow("not set") << QByteArray() << -1;
    QTest::newRow("portable") << QByteArray("portable") << int(cpu::SimdLevel::Portable);
    QTest::newRow("avx2") << QByteArray("avx2") << int(cpu::SimdLevel::Avx2);
    QTest::newRow("anything else holds to portable") << QByteArray("AVX2 ") << int(cpu::SimdLevel::Portable);
    QTest::newRow("a wider set than there is holds to portable") << QByteArray("avx512") << int(cpu::SimdLevel::Portable);
}

void TestUtf8Kernels::simdLimit()
{
    QFETCH(QByteArray, value);
    QFETCH(int, limit);
    const auto got = cpu::parseSimdLimit(value.isNull() ? nullptr : value.constData());
    QCOMPARE(got ? int(*got) : -1, limit);
}

void TestUtf8Kernels::kernelInUse()
{
    // The test command runs the suite once more with FWPREP_SIMD=portable:
    // the process must then really use the portable kernels.
    const auto limit = cpu::parseSimdLimit(std::getenv("FWPREP_SIMD"));
    const cpu::SimdLevel widest = cpu::detected().widest;
    QCOMPARE(utf8::kernels().level, limit ? std::min(widest, *limit) : widest);
    QCOMPARE(utf8::availableKernels().front(), &utf8::portable::kernels);
}

void TestUtf8Kernels::kernels_data()
{
    QTest::addColumn<QByteArray>("text");
    const QByteArray a63(63, 'a');
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("ASCII over three chunks") << repeated("abcdefg", 200);
    QTest::newRow("Turkish letters") << repeated("\xC3\xA7" "a\xC4\x9F" "r\xC4\xB1 \xC5\x9F" "ek\xC4\xB0", 300);
    QTest::newRow("two-byte letter across the chunk edge") << a63 + repeated("\xC3\xA7", 80);
    QTest::newRow("three-byte signs") << repeated("x\xE2\x82\xAC" "ab\xE0\xA4\x85\xED\x9F\xBF", 260);
    QTest::newRow("four-byte sequences") << repeated("\xF0\x9F\x98\x80" "a\xF4\x8F\xBF\xBF\xF1\x80\x80\x80", 260);
    QTest::newRow("only continuation bytes") << QByteArray(150, '\x80');
    QTest::newRow("invalid bytes among letters")
        << repeated("\xC3\xA7\xFF" "ab\xC0\x80\xC1\xBF\xF5\x80\xF8\xC3", 260);
    QTest::newRow("lone leads before ASCII") << repeated("a\xE2" "b\xC0" "c\xF0" "d\xFF" "e\xC1" "\xED" "f", 260);
    QTest::newRow("overlong and out-of-range forms")
        << repeated("\xE0\x80\x80\xE0\x9F\xBF\xF0\x80\x80\x80\xF0\x8F\xBF\xBF\xF4\x90\x80\x80", 260);
    QTest::newRow("surrogates") << repeated("a\xED\xA0\x80\xED\xBF\xBF", 200);
    QTest::newRow("sequences cut short") << repeated("\xE2\x82" "a\xF0\x9F\x98" "b\xC3" "c\xE2", 260);
    QTest::newRow("limited lead on the last byte of a chunk")
        << a63 + "\xE0\xA0\x80" + a63 + "\xED\xA0\x80" + a63 + "\xF0\x80\x80\x80" + a63 + "\xF4\x8F\xBF\xBF";
    QTest::newRow("text ends inside a four-byte sequence") << a63 + "b\xF0\x9F\x98";
    QTest::newRow("text ends inside a sequence at a chunk edge") << QByteArray(64, 'a') + "\xC3";
}

void TestUtf8Kernels::kernels()
{
    // Every implementation, from every character start, for many widths:
    // the same answers as the byte-by-byte rule. The bytes past the end are
    // there to be read and must not count.
    QFETCH(QByteArray, text);
    const std::vector<std::size_t> starts = charStarts(text);
    const QByteArray buffer = text + QByteArray(64, '\x80') + QByteArray(64, '\xE2');
    const char* const begin = buffer.constData();
    const char* const end = begin + text.size();
    for (std::size_t s = 0; s < starts.size(); ++s) {
        // The one-load ASCII test of short columns, which reads 16 bytes
        // whatever it is asked: high bytes past the n asked for must not count.
        for (std::size_t n = 0; n <= 16 && starts[s] + n <= std::size_t(text.size()); ++n)
            QVERIFY2(utf8::isAsciiShort(begin + starts[s], n) == utf8::isAscii(begin + starts[s], n),
                qPrintable(QStringLiteral("isAsciiShort from %1, %2 bytes").arg(starts[s]).arg(n)));
    }
#if defined(FWPREP_X86_WIDE_LOOPS)
    // The short prefix of a join's column in a loop compiled for AVX2: the
    // same answers, or none. Text of ASCII and two-byte letters only always
    // gets one while the characters asked for lie in its first 32 bytes.
    if (cpu::detected().widest >= cpu::SimdLevel::Avx2) {
        bool twoByteOnly = true;
        for (std::size_t s = 0; s + 1 < starts.size(); ++s) {
            const auto lead = static_cast<unsigned char>(text[qsizetype(starts[s])]);
            const std::size_t len = starts[s + 1] - starts[s];
            twoByteOnly = twoByteOnly && (len == 1 ? lead < 0x80 : len == 2);
        }
        // The line reader's and the CSV parser's chunk looks in 32-byte
        // vectors: the same masks, from every offset, of the text and of it
        // with line ends, CRs, quotes and delimiters put in; and the same
        // quoted parts from the carry-less multiply.
        QByteArray withLines = buffer;
        for (qsizetype i = 5, k = 0; i < withLines.size(); i += 7 + i % 5, ++k)
            withLines[i] = "\n\"\n;\r\""[k % 6];
        for (const QByteArray* b : {&buffer, static_cast<const QByteArray*>(&withLines)}) {
            for (qsizetype at = 0; at + 64 <= b->size(); ++at) {
                const ChunkMasks narrow = scanChunk(b->constData() + at);
                const ChunkMasks wide = scanChunkWide(b->constData() + at);
                QVERIFY2(wide.lineEnds == narrow.lineEnds && wide.high == narrow.high,
                    qPrintable(QStringLiteral("scanChunkWide at %1").arg(at)));
                const char* p = b->constData() + at;
                const std::uint64_t quotes = equalBits64(p, '"');
                const std::uint64_t delimiters = equalBits64(p, ';');
                const std::uint64_t returns = equalBits64(p, '\r');
                const CsvChunkMasks csv = CsvChunkScan<true>(';')(p);
                const CsvChunkMasks csvBytes = CsvChunkScan<false>(';')(p);
                const CsvChunkMasks csvWide = CsvChunkScanWide<true>(';')(p);
                const CsvChunkMasks csvWideBytes = CsvChunkScanWide<false>(';')(p);
                QVERIFY2(csv.quotes == quotes && csv.ends == (delimiters | narrow.lineEnds)
                        && csv.lineEnds == narrow.lineEnds && csv.odd == (returns | narrow.high)
                        && csvBytes.quotes == quotes && csvBytes.ends == csv.ends && csvBytes.lineEnds == csv.lineEnds
                        && csvBytes.odd == returns,
                    qPrintable(QStringLiteral("CsvChunkScan at %1").arg(at)));
                QVERIFY2(csvWide.quotes == csv.quotes && csvWide.ends == csv.ends && csvWide.lineEnds == csv.lineEnds
                        && csvWide.odd == csv.odd && csvWideBytes.quotes == csv.quotes && csvWideBytes.ends == csv.ends
                        && csvWideBytes.lineEnds == csv.lineEnds && csvWideBytes.odd == returns,
                    qPrintable(QStringLiteral("CsvChunkScanWide at %1").arg(at)));
                for (const std::uint64_t m : {quotes, delimiters, narrow.high, ~narrow.lineEnds})
                    QVERIFY2(prefixXorWide(m) == prefixXor(m), qPrintable(QStringLiteral("prefixXorWide at %1").arg(at)));
                // A CSV writer's look at a line: the bytes that get a field
                // quoted, the fill, the high bytes.
                const FieldMasks field = fieldMasks(b->constData() + at, ';', 'a');
                const FieldMasks fieldWide = fieldMasksWide(b->constData() + at, ';', 'a');
                QVERIFY2(field.special == (quotes | delimiters | returns) && field.high == narrow.high
                        && field.fill == equalBits64(b->constData() + at, 'a') && fieldWide.special == field.special
                        && fieldWide.fill == field.fill && fieldWide.high == field.high,
                    qPrintable(QStringLiteral("fieldMasks at %1").arg(at)));
            }
        }
        for (std::size_t s = 0; s < starts.size(); ++s) {
            const std::size_t charsLeft = starts.size() - 1 - s;
            for (std::size_t width = 1; width <= 16; ++width) {
                std::size_t taken = 5;
                const char* q = utf8::x86::InlineKernels::shortPrefix(begin + starts[s],
                    std::size_t(text.size()) - starts[s], width, taken);
                const std::size_t want = std::min(width, charsLeft);
                const QString where = QStringLiteral("shortPrefix from %1 by %2").arg(starts[s]).arg(width);
                if (q != nullptr)
                    QVERIFY2(q == begin + starts[s + want] && taken == 5 + want, qPrintable(where));
                else if (twoByteOnly) {
                    // Only where the answer lies past the first 32 bytes.
                    const std::size_t reach = starts[s + want] - starts[s];
                    QVERIFY2(want < width ? reach > 32 : reach >= 32, qPrintable(where + QStringLiteral(": no answer")));
                }
            }
            // A split's short pieces, all ends at once (those past the text at its end).
            const std::size_t left = std::size_t(text.size()) - starts[s];
            for (std::size_t width = 1; width <= 9; width += 2) {
                for (std::size_t count = 1; count <= 5 && count * width < 64; count += 2) {
                    const char* ends[5];
                    const QString where = QStringLiteral("shortPieceEnds from %1, %2 x %3").arg(starts[s]).arg(count).arg(width);
                    if (utf8::x86::InlineKernels::shortPieceEnds(begin + starts[s], left, width, count, ends)) {
                        for (std::size_t i = 0; i < count; ++i)
                            QVERIFY2(ends[i] == begin + starts[std::min(s + (i + 1) * width, starts.size() - 1)],
                                qPrintable(where + QStringLiteral(", piece %1").arg(i)));
                    } else if (twoByteOnly) {
                        // Only where the pieces go on past the first 64 bytes.
                        const std::size_t all = count * width;
                        QVERIFY2(left > 64 && (charsLeft < all || starts[s + all] - starts[s] >= 64),
                            qPrintable(where + QStringLiteral(": no answer")));
                    }
                }
            }
        }
    }
#endif
    for (const utf8::Kernels* k : utf8::availableKernels()) {
        for (std::size_t s = 0; s < starts.size(); ++s) {
            const char* p = begin + starts[s];
            const std::size_t charsLeft = starts.size() - 1 - s;
            for (std::size_t width = 1; width <= 70; width += width < 20 ? 1 : 7) {
                std::size_t taken = 5;
                const char* q = k->advance(p, end, width, taken);
                const std::size_t want = std::min(width, charsLeft);
                QVERIFY2(q == begin + starts[s + want] && taken == 5 + want,
                    qPrintable(QStringLiteral("%1 advance from %2 by %3").arg(k->name).arg(starts[s]).arg(width)));

                const char* ends[4];
                const std::size_t found = k->pieceEnds(p, end, width, 4, ends);
                // Pieces up to the first that reaches the end, at most four.
                const std::size_t pieces = std::max<std::size_t>(1, (charsLeft + width - 1) / width);
                QCOMPARE(found, std::min<std::size_t>(4, pieces));
                for (std::size_t i = 0; i < found; ++i)
                    QVERIFY2(ends[i] == begin + starts[std::min(s + (i + 1) * width, starts.size() - 1)],
                        qPrintable(QStringLiteral("%1 piece %2 from %3, width %4").arg(k->name).arg(i).arg(starts[s]).arg(width)));
            }
        }
    }
}

QTEST_APPLESS_MAIN(TestUtf8Kernels)
#include "tst_utf8_kernels.moc"
