// Text conversion between display and server form, and the field helpers every record
// reader relies on.
#include "session/cacheapi.h"

#include <QTest>

#include <stdexcept>

using namespace Qt::StringLiterals;

class tst_TextHelpers : public QObject
{
    Q_OBJECT

private slots:
    void convertText_data();
    void convertText();
    void convertRoundTrip();
    void replaceText_data();
    void replaceText();
    void replaceTextRefusesEmptySearch();
    void piece_data();
    void piece();
    void pieceCount_data();
    void pieceCount();
    void overlongTextsFail();
    void scramblePassword();
};

void tst_TextHelpers::convertText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("mode");
    QTest::addColumn<bool>("upper");
    QTest::addColumn<QString>("expected");

    QTest::newRow("to server, upper: ö via Ö") << u"Jörg"_s << u"RUZAVAVIR"_s << true << u"J\\RG"_s;
    QTest::newRow("to server, ß stays ß then ~") << u"Fuß"_s << u"RUZAVAVIR"_s << true << u"FU~"_s;
    QTest::newRow("to server, ä upper-cased to [") << u"bär"_s << u"RUZAVAVIR"_s << true << u"B[R"_s;
    QTest::newRow("to server, lower kept") << u"äöüßÄÖÜ§"_s << u"RUZAVAVIR"_s << false << u"{|}~[\\]õ"_s;
    QTest::newRow("to display, case kept") << u"M}ller Stra~e |l"_s << u"VARELO"_s << false << u"Müller Straße öl"_s;
    QTest::newRow("to display, all") << u"{|}~[\\]õ"_s << u"VARELO"_s << false << u"äöüßÄÖÜ§"_s;
    // Upper-casing comes first, so the letters brought back by the conversion stay lower case.
    QTest::newRow("to display with upper") << u"m}ller"_s << u"VARELO"_s << true << u"MüLLER"_s;
    QTest::newRow("search form") << u"Größer Ärger"_s << u"VARELOSUCHE"_s << true << u"GROESSER AERGER"_s;
    QTest::newRow("search form, lower umlauts untouched") << u"größer"_s << u"VARELOSUCHE"_s << false
                                                          << u"gröSSer"_s;
    QTest::newRow("unknown mode only upper-cases") << u"bär"_s << u"varelo"_s << true << u"BÄR"_s;
    QTest::newRow("unknown mode, no upper") << u"bär"_s << u"XYZ"_s << false << u"bär"_s;
    QTest::newRow("empty") << QString() << u"RUZAVAVIR"_s << true << QString();
}

void tst_TextHelpers::convertText()
{
    QFETCH(QString, text);
    QFETCH(QString, mode);
    QFETCH(bool, upper);
    QFETCH(QString, expected);
    QCOMPARE(cacheapi::ConvertText(text, mode, upper), expected);
}

void tst_TextHelpers::convertRoundTrip()
{
    const QString display = u"Björn Bär, Fußweg 3, § 12, Öl & Übung"_s;
    const QString server = cacheapi::ConvertText(display, u"RUZAVAVIR"_s, false);
    QVERIFY(!server.contains(u'ä') && !server.contains(u'ß'));
    QCOMPARE(cacheapi::ConvertText(server, u"VARELO"_s, false), display);
}

void tst_TextHelpers::replaceText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("search");
    QTest::addColumn<QString>("replacement");
    QTest::addColumn<QString>("expected");

    QTest::newRow("every occurrence") << u"a-b-c"_s << u"-"_s << u"+"_s << u"a+b+c"_s;
    QTest::newRow("no rescan of the replacement") << u"aa"_s << u"a"_s << u"aa"_s << u"aaaa"_s;
    QTest::newRow("longer search, non-overlapping") << u"aaaa"_s << u"aa"_s << u"b"_s << u"bb"_s;
    QTest::newRow("odd overlap") << u"aaa"_s << u"aa"_s << u"b"_s << u"ba"_s;
    QTest::newRow("case-sensitive") << u"Aa"_s << u"a"_s << u"x"_s << u"Ax"_s;
    QTest::newRow("delete") << u"a||b"_s << u"||"_s << QString() << u"ab"_s;
    QTest::newRow("empty text") << QString() << u"a"_s << u"b"_s << QString();
    QTest::newRow("search at end") << u"abc"_s << u"bc"_s << u"X"_s << u"aX"_s;
}

void tst_TextHelpers::replaceText()
{
    QFETCH(QString, text);
    QFETCH(QString, search);
    QFETCH(QString, replacement);
    QFETCH(QString, expected);
    QCOMPARE(cacheapi::ReplaceText(text, search, replacement), expected);
}

void tst_TextHelpers::replaceTextRefusesEmptySearch()
{
    QVERIFY_THROWS_EXCEPTION(std::invalid_argument, cacheapi::ReplaceText(u"abc"_s, QString(), u"x"_s));
}

void tst_TextHelpers::piece_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("delimiter");
    QTest::addColumn<int>("n");
    QTest::addColumn<QString>("defaultValue");
    QTest::addColumn<QString>("expected");

    QTest::newRow("first") << u"10001|MUELLER|Müller"_s << u"|"_s << 1 << QString() << u"10001"_s;
    QTest::newRow("middle") << u"10001|MUELLER|Müller"_s << u"|"_s << 2 << QString() << u"MUELLER"_s;
    QTest::newRow("last") << u"10001|MUELLER|Müller"_s << u"|"_s << 3 << QString() << u"Müller"_s;
    QTest::newRow("missing gives default") << u"a|b"_s << u"|"_s << 3 << u"-"_s << u"-"_s;
    QTest::newRow("adjacent delimiters give default") << u"a||c"_s << u"|"_s << 2 << u"leer"_s << u"leer"_s;
    QTest::newRow("empty text ignores default") << QString() << u"|"_s << 1 << u"x"_s << QString();
    QTest::newRow("two-character delimiter, tenant") << u"1||B[R"_s << u"||"_s << 1 << QString() << u"1"_s;
    QTest::newRow("two-character delimiter, code") << u"1||B[R"_s << u"||"_s << 2 << QString() << u"B[R"_s;
    QTest::newRow("two-character delimiter, single bar kept") << u"1||a|b"_s << u"||"_s << 2 << QString()
                                                              << u"a|b"_s;
    QTest::newRow("trailing delimiter, field after it") << u"a|b|"_s << u"|"_s << 3 << u"d"_s << u"d"_s;
    QTest::newRow("leading delimiter") << u"|b"_s << u"|"_s << 1 << u"d"_s << u"d"_s;
    QTest::newRow("field 0") << u"a|b"_s << u"|"_s << 0 << u"d"_s << u"d"_s;
    QTest::newRow("no delimiter in text") << u"abc"_s << u"|"_s << 1 << QString() << u"abc"_s;
    QTest::newRow("location code") << u"2 Filiale Nord"_s << u" "_s << 1 << QString() << u"2"_s;
}

void tst_TextHelpers::piece()
{
    QFETCH(QString, text);
    QFETCH(QString, delimiter);
    QFETCH(int, n);
    QFETCH(QString, defaultValue);
    QFETCH(QString, expected);
    QCOMPARE(cacheapi::Piece(text, delimiter, n, defaultValue), expected);
}

void tst_TextHelpers::pieceCount_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QChar>("delimiter");
    QTest::addColumn<int>("expected");

    QTest::newRow("empty") << QString() << QChar(u'`') << 0;
    QTest::newRow("one field") << u"1 Zentrale"_s << QChar(u'`') << 1;
    QTest::newRow("two fields") << u"a`b"_s << QChar(u'`') << 2;
    QTest::newRow("two fields, trailing delimiter") << u"a`b`"_s << QChar(u'`') << 2;
    QTest::newRow("empty field in the middle") << u"a``b"_s << QChar(u'`') << 3;
    QTest::newRow("only a delimiter") << u"`"_s << QChar(u'`') << 1;
}

void tst_TextHelpers::pieceCount()
{
    QFETCH(QString, text);
    QFETCH(QChar, delimiter);
    QFETCH(int, expected);
    QCOMPARE(cacheapi::PieceCount(text, delimiter), expected);
}

void tst_TextHelpers::overlongTextsFail()
{
    const QString limit(32766, u'a');
    const QString over(32767, u'a');
    QCOMPARE(cacheapi::Piece(limit, u"|"_s, 1).size(), 32766);
    QCOMPARE(cacheapi::ReplaceText(limit, u"a"_s, u"b"_s), QString(32766, u'b'));
    QVERIFY_THROWS_EXCEPTION(std::length_error, cacheapi::Piece(over, u"|"_s, 1));
    QVERIFY_THROWS_EXCEPTION(std::length_error, cacheapi::ReplaceText(over, u"a"_s, u"b"_s));
    // The conversion is made of replacement passes and fails the same way.
    QVERIFY_THROWS_EXCEPTION(std::length_error, cacheapi::ConvertText(over, u"VARELO"_s, false));
}

void tst_TextHelpers::scramblePassword()
{
    const QString password = u"Geheim-ä1"_s;
    const QString stored = cacheapi::ScramblePassword(password);
    QVERIFY(stored != password);
    QCOMPARE(stored.size(), password.size());
    QCOMPARE(cacheapi::ScramblePassword(stored), password);
    QCOMPARE(cacheapi::ScramblePassword(QString(255, u'x')).size(), 255);
    QVERIFY_THROWS_EXCEPTION(std::invalid_argument, cacheapi::ScramblePassword(QString(256, u'x')));
}

QTEST_APPLESS_MAIN(tst_TextHelpers)
#include "tst_texthelpers.moc"
