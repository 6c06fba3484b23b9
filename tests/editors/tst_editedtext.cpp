// Stored bytes as editable text, and a text area's edits carried over onto
// the stored text.
#include "EditedText.h"

#include <QtTest>

namespace {
QString u(const char16_t *text)
{
    return QStringView(text).toString();
}

// The stand-in of one byte that is not UTF-8.
QString standIn(int byte)
{
    return QString(QChar(char16_t(0xDC00 + byte)));
}
} // namespace

class EditedTextTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void bytesSurviveTheTripThroughText_data();
    void bytesSurviveTheTripThroughText();
    void onlyStandInsShowAsReplacement();
    void editsKeepWhatWasNotTouched_data();
    void editsKeepWhatWasNotTouched();
    void editAtTheEndIsReported_data();
    void editAtTheEndIsReported();
    void successiveEditsBuildOnEachOther();
};

void EditedTextTest::bytesSurviveTheTripThroughText_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");
    QTest::newRow("empty") << QByteArray() << QString();
    QTest::newRow("leading byte order mark") << QByteArray("\xEF\xBB\xBF" "ab") << u(u"\uFEFFab");
    QTest::newRow("NUL and tab") << QByteArray("a\0\tb", 4) << QString("a") + QChar(0) + "\tb";
    QTest::newRow("Latin-1 byte") << QByteArray("caf\xE9") << "caf" + standIn(0xE9);
    QTest::newRow("cut-off sequence") << QByteArray("a\xC3") << "a" + standIn(0xC3);
    QTest::newRow("overlong slash") << QByteArray("\xC0\xAF") << standIn(0xC0) + standIn(0xAF);
    QTest::newRow("encoded surrogate") << QByteArray("\xED\xA0\x80") << standIn(0xED) + standIn(0xA0) + standIn(0x80);
    QTest::newRow("beyond U+10FFFF") << QByteArray("\xF4\x90\x80\x80") << standIn(0xF4) + standIn(0x90) + standIn(0x80) + standIn(0x80);
    QTest::newRow("last code point") << QByteArray("\xF4\x8F\xBF\xBF") << u(u"\U0010FFFF");
    // U+10080's low surrogate lies among the stand-ins.
    QTest::newRow("pair next to a stand-in") << QByteArray("\xF0\x90\x82\x80\xFF") << u(u"\U00010080") + standIn(0xFF);
}

void EditedTextTest::bytesSurviveTheTripThroughText()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);
    QCOMPARE(textFromStoredBytes(bytes), text);
    QCOMPARE(storedBytesFromText(text), bytes);
}

void EditedTextTest::onlyStandInsShowAsReplacement()
{
    QCOMPARE(displayText(u(u"\U00010080") + standIn(0xFF) + "x"), u(u"\U00010080\uFFFDx"));
    QCOMPARE(displayText(standIn(0x80)), u(u"\uFFFD"));
}

void EditedTextTest::editsKeepWhatWasNotTouched_data()
{
    // Each row: what is stored, how the area reads it, what the user made of
    // that reading, and what is then stored.
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("before");
    QTest::addColumn<QString>("after");
    QTest::addColumn<QString>("expected");
    QTest::newRow("CR LF, typed at the end") << "a\r\nb" << "a\nb" << "a\nbx" << "a\r\nbx";
    QTest::newRow("CR LF, typed after it") << "a\r\nb" << "a\nb" << "a\nXb" << "a\r\nXb";
    QTest::newRow("CR LF, typed before it") << "a\r\nb" << "a\nb" << "aX\nb" << "aX\r\nb";
    QTest::newRow("CR LF removed as one") << "a\r\nb\r\nc" << "a\nb\nc" << "ab\nc" << "ab\r\nc";
    QTest::newRow("Return after CR LF") << "a\r\n" << "a\n" << "a\n\n" << "a\r\n\n";
    QTest::newRow("lone CR") << "a\rb" << "a\nb" << "xa\nb" << "xa\rb";
    QTest::newRow("no-break space") << u(u"a\u00A0b") << "a b" << "a bc" << u(u"a\u00A0bc");
    QTest::newRow("separators") << u(u"a\u2028b\u2029c") << "a\nb\nc" << "a\nb!\nc" << u(u"a\u2028b!\u2029c");
    QTest::newRow("stand-in for a byte") << "caf" + standIn(0xE9) << u(u"caf\uFFFD") << u(u"caf\uFFFD!") << "caf" + standIn(0xE9) + "!";
    QTest::newRow("everything replaced") << "a\r\nb" << "a\nb" << "new" << "new";
    QTest::newRow("everything removed") << u(u"\uFEFF\u00A0") << u(u"\uFEFF ") << "" << "";
    QTest::newRow("typed into an empty text") << "" << "" << "x" << "x";
    // A reading this code does not know: what the area showed stands in,
    // from the unknown place on to the change.
    QTest::newRow("unknown reading") << "aXb\r\n" << "aYb\n" << "aYbZ\n" << "aYbZ\r\n";
}

void EditedTextTest::editsKeepWhatWasNotTouched()
{
    QFETCH(QString, stored);
    QFETCH(QString, before);
    QFETCH(QString, after);
    QFETCH(QString, expected);
    QCOMPARE(spliceShownEdit(stored, before, after).stored, expected);
}

void EditedTextTest::editAtTheEndIsReported_data()
{
    QTest::addColumn<QString>("after");
    QTest::addColumn<QString>("inserted");
    QTest::addColumn<bool>("reachesEnd");
    QTest::newRow("Return at the end") << "abc\n" << "\n" << true;
    QTest::newRow("Return inside") << "a\nbc" << "\n" << false;
    QTest::newRow("last letter removed") << "ab" << "" << true;
    QTest::newRow("first letter replaced") << "xbc" << "x" << false;
}

void EditedTextTest::editAtTheEndIsReported()
{
    QFETCH(QString, after);
    QFETCH(QString, inserted);
    QFETCH(bool, reachesEnd);
    const ShownEdit edit = spliceShownEdit("abc", "abc", after);
    QCOMPARE(edit.inserted, inserted);
    QCOMPARE(edit.reachesEnd, reachesEnd);
}

void EditedTextTest::successiveEditsBuildOnEachOther()
{
    ShownText text;
    text.replace("one\r\ntwo");
    text.setReading("one\ntwo");
    text.edit("one\ntwo\n");
    text.edit("one\ntwo\nthree");
    text.edit("ONE\ntwo\nthree");
    QCOMPARE(text.stored(), "ONE\r\ntwo\nthree");
    QCOMPARE(text.shown(), "ONE\ntwo\nthree");
}

QTEST_GUILESS_MAIN(EditedTextTest)
#include "tst_editedtext.moc"
