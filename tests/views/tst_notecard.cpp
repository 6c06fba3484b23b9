#include "NoteCard.h"
#include "TodoItem.h"
#include "ViewsTestSupport.h"

#include <QSignalSpy>
#include <QTest>

namespace {

QByteArray todo(const QList<std::pair<QString, bool>> &items)
{
    QList<TodoItem> list;
    for (const auto &[text, done] : items)
        list << TodoItem{QUuid::createUuid(), text, done};
    return encodeTodoItems(list);
}

} // namespace

class NoteCardTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void previewText_data();
    void previewText();
    void brokenTodoJsonGivesAPlainDescription_data();
    void brokenTodoJsonGivesAPlainDescription();
    void flipsAndReportsEachReturnToTheFront();
    void clickOpensOnlyFromTheFront();
    void deleteConfirmation();
    void favouriteMarkFollowsLaterNoteVersionsOnly();
    void toggleFavoriteStoresAndTogglesBack();
    void toggleFavoriteRollsBackWhenTheStoreFails();
    void fillColourByType_data();
    void fillColourByType();
    void timeAndDateOfTheEpoch();
};

void NoteCardTest::previewText_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<qlonglong>("type");
    QTest::addColumn<QString>("expected");

    QTest::newRow("one line, trimmed") << QByteArray("  hello world \t") << 1LL << "hello world";
    QTest::newRow("words on lines, blank line, CRLF")
        << QByteArray("  alpha \n\n beta\r\n gamma  ") << 1LL << "alpha, beta, gamma";
    QTest::newRow("every newline character separates")
        << QByteArray("a\x0b" "b\x0c" "c\r" "d\xc2\x85" "e\xe2\x80\xa8" "f\xe2\x80\xa9" "g")
        << 1LL << "a, b, c, d, e, f, g";
    QTest::newRow("no-break and ideographic spaces are trimmed")
        << QByteArray("\xc2\xa0one\xe3\x80\x80") << 1LL << "one";
    QTest::newRow("other characters are kept: zero width space")
        << QByteArray("\xe2\x80\x8bx") << 1LL << QString(QChar(0x200b)) + "x";
    QTest::newRow("empty plain note") << QByteArray() << 1LL << "";
    QTest::newRow("only spaces, tabs and newlines") << QByteArray(" \t \n\r\n\t\t \n ") << 1LL << "";
    QTest::newRow("empty to-do list") << QByteArray("[]") << 2LL << "No uncompleted tasks";
    QTest::newRow("all completed")
        << todo({{"a", true}, {"b", true}}) << 2LL << "No uncompleted tasks";
    QTest::newRow("open items hold only spaces and tabs")
        << todo({{" \t ", false}, {"\t", false}}) << 2LL << "No uncompleted tasks";
    QTest::newRow("open item trimmed of spaces")
        << todo({{"  milk  ", false}}) << 2LL << "milk";
    QTest::newRow("line feed alone stays in a to-do preview")
        << todo({{"\n", false}, {"eggs", false}}) << 2LL << "\n, eggs";
    QTest::newRow("two open around a completed one, stored order")
        << todo({{"first", false}, {"done", true}, {"second", false}}) << 2LL << "first, second";
    QTest::newRow("invalid UTF-8, type 1") << QByteArray("ab\xff") << 1LL << "Unable to decode note content";
    QTest::newRow("invalid UTF-8, type 2") << QByteArray("[\xc3]") << 2LL << "Unable to decode note content";
    QTest::newRow("invalid UTF-8, type 7") << QByteArray("\xed\xa0\x80") << 7LL << "Unable to decode note content";
    QTest::newRow("valid text of type 3") << QByteArray("hello") << 3LL << "Invalid type";
    QTest::newRow("valid text of type 0") << QByteArray("hello") << 0LL << "Invalid type";
}

void NoteCardTest::previewText()
{
    QFETCH(QByteArray, content);
    QFETCH(qlonglong, type);
    QFETCH(QString, expected);
    QCOMPARE(NoteCard::previewText(content, type), expected);
}

void NoteCardTest::brokenTodoJsonGivesAPlainDescription_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("expected");
    QTest::newRow("empty content") << QByteArray() << "Error parsing JSON: The list is empty.";
    QTest::newRow("only blanks") << QByteArray(" \n\t") << "Error parsing JSON: The list is empty.";
    QTest::newRow("not JSON") << QByteArray("milk, eggs") << "Error parsing JSON: The data is not in the right format.";
    QTest::newRow("cut short") << QByteArray(R"([{"id":)") << "Error parsing JSON: The data is not in the right format.";
    QTest::newRow("not an array")
        << QByteArray(R"({"id":"x"})") << "Error parsing JSON: The data is not a list of to-do items.";
    QTest::newRow("item without isCompleted")
        << QByteArray(R"([{"id":"6F1C2A4E-1111-4C3B-9D2E-123456789ABC","text":"x"}])")
        << "Error parsing JSON: The data is not a list of to-do items.";
}

void NoteCardTest::brokenTodoJsonGivesAPlainDescription()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, expected);
    QString decoderText;
    try {
        decodeTodoItems(content);
        QFAIL("the content decoded");
    } catch (const std::exception &error) {
        decoderText = QString::fromUtf8(error.what());
    }
    const QString preview = NoteCard::previewText(content, 2);
    QCOMPARE(preview, expected);
    // Never the decoder's own wording.
    QVERIFY(!preview.contains(decoderText));
}

void NoteCardTest::flipsAndReportsEachReturnToTheFront()
{
    NoteCard card;
    card.setNote(makeNote("a", "text"));
    QSignalSpy back(&card, &NoteCard::flipBack);

    card.flip();                       // long press on the front
    QVERIFY(card.isFlipped());
    QCOMPARE(back.count(), 0);

    card.flip();                       // turn-back button
    QVERIFY(!card.isFlipped());
    QCOMPARE(back.count(), 1);

    card.flip();
    card.setIsFlipped(true);           // the same value again is no change
    card.flip();                       // long press on the back
    QCOMPARE(back.count(), 2);
    card.setIsFlipped(false);
    QCOMPARE(back.count(), 2);
}

void NoteCardTest::clickOpensOnlyFromTheFront()
{
    NoteCard card;
    card.setNote(makeNote("a", "text"));
    QSignalSpy taps(&card, &NoteCard::tap);
    card.click();
    QCOMPARE(taps.count(), 1);
    card.flip();
    card.click();
    QCOMPARE(taps.count(), 1);
}

void NoteCardTest::deleteConfirmation()
{
    NoteCard card;
    card.setNote(makeNote("a", "text"));
    QSignalSpy confirmed(&card, &NoteCard::deleteConfirmed);
    card.flip();
    card.setShowDeleteConfirmation(true);
    card.cancelDelete();
    QVERIFY(!card.showDeleteConfirmation());
    QVERIFY(card.isFlipped());
    QCOMPARE(confirmed.count(), 0);

    card.setShowDeleteConfirmation(true);
    card.confirmDelete();
    QVERIFY(!card.showDeleteConfirmation());
    QVERIFY(card.isFlipped());
    QCOMPARE(confirmed.count(), 1);
}

void NoteCardTest::favouriteMarkFollowsLaterNoteVersionsOnly()
{
    NoteCard card;
    card.setNote(makeNote("a", "text", 1, 2));
    QVERIFY(!card.localIsFavorite());            // only 1 is a favourite
    card.setNote(makeNote("a", "text", 1, 1));
    QVERIFY(card.localIsFavorite());

    NoteCard second;
    second.setNote(makeNote("b", "text", 1, 1));
    QVERIFY(second.localIsFavorite());
    // A new version with the same isfavorite leaves the mark alone.
    Note later = makeNote("b", "changed", 1, 1, 2000);
    QSignalSpy markChanges(&second, &NoteCard::localIsFavoriteChanged);
    second.setNote(later);
    QCOMPARE(markChanges.count(), 0);
    second.setNote(makeNote("b", "changed", 1, 0, 2000));
    QVERIFY(!second.localIsFavorite());
}

void NoteCardTest::toggleFavoriteStoresAndTogglesBack()
{
    TestHome home;
    const Note stored = storeNote("a1", "text");
    NoteCard card;
    card.setNote(stored);
    card.toggleFavorite();
    QVERIFY(card.localIsFavorite());
    QCOMPARE(DBManager::shared().fetchNote("a1").isfavorite, 1);
    card.toggleFavorite();
    QVERIFY(!card.localIsFavorite());
    QCOMPARE(DBManager::shared().fetchNote("a1").isfavorite, 0);
}

void NoteCardTest::toggleFavoriteRollsBackWhenTheStoreFails()
{
    TestHome home;
    NoteCard card;
    card.setNote(makeNote("gone", "text", 1, 1));   // no such row
    QSignalSpy markChanges(&card, &NoteCard::localIsFavoriteChanged);
    CapturedOutput output;
    card.toggleFavorite();
    QVERIFY(card.localIsFavorite());
    QCOMPARE(markChanges.count(), 2);
    QCOMPARE(output.text(), "Error updating favorite status: noteNotFound\n");
}

void NoteCardTest::fillColourByType_data()
{
    QTest::addColumn<qlonglong>("type");
    QTest::addColumn<QString>("colour");
    QTest::newRow("note") << 1LL << "CustomizeBlueColor";
    QTest::newRow("todo") << 2LL << "CustomizeYellowColor";
    QTest::newRow("zero") << 0LL << "CardBGColor";
    QTest::newRow("three") << 3LL << "CardBGColor";
}

void NoteCardTest::fillColourByType()
{
    QFETCH(qlonglong, type);
    QFETCH(QString, colour);
    NoteCard card;
    card.setNote(makeNote("a", "x", type));
    QCOMPARE(card.fillColorName(), colour);
}

void NoteCardTest::timeAndDateOfTheEpoch()
{
    NoteCard card;
    card.setNote(makeNote("a", "x", 1, 0, 0));
    // The test runs with TZ=Asia/Tokyo (UTC+9) and an American English locale.
    // Newer locale data puts a narrow no-break space before "AM".
    QCOMPARE(card.timeText().replace(QChar(0x202f), QLatin1Char(' ')), "9:00 AM");
    QCOMPARE(card.dateText(), "1/1/70");
}

QTEST_GUILESS_MAIN(NoteCardTest)
#include "tst_notecard.moc"
