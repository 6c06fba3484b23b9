// Writes the notes of the views benchmark into three home folders, one per
// program, so that each holds the same texts in its own format:
//   DIR/toviknote: ~/.tovik/tovik.db, through the store
//   DIR/gnote:     ~/.local/share/gnote/*.note
//   DIR/tomboy-ng: ~/.local/share/tomboy-ng/*.note
// Usage: bench_peer_seed COUNT DIR
#include "../views/BenchNotes.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <QTimeZone>

#include <cstdio>
#include <sys/stat.h>

namespace {

// The text a user reads on the card: a to-do list shows its item's text.
QString plainText(const Note &note)
{
    if (note.type != 2)
        return QString::fromUtf8(note.content);
    return QJsonDocument::fromJson(note.content).array().at(0).toObject().value(QStringLiteral("text")).toString();
}

QString escaped(const QString &text)
{
    return text.toHtmlEscaped();
}

QString isoDate(int64_t seconds)
{
    return QDateTime::fromSecsSinceEpoch(seconds, QTimeZone::utc()).toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss"))
        + QStringLiteral(".0000000+00:00");
}

// Both programs read the same note files: the title is the note's first
// line, the rest of the text follows it. A title some other note already has
// gets a number, as both programs want titles to differ.
bool writeNoteFiles(const QString &folder, int count)
{
    if (!QDir().mkpath(folder))
        return false;
    QSet<QString> titles;
    int index = 0;
    for (const Note &note : benchNotes(count)) {
        const QString text = plainText(note).trimmed();
        QStringList words = text.section(QLatin1Char('\n'), 0, 0).split(QLatin1Char(' '), Qt::SkipEmptyParts);
        const QString title0 = QStringList(words.mid(0, 6)).join(QLatin1Char(' '));
        QString title = title0;
        for (int copy = 2; titles.contains(title); ++copy)
            title = QStringLiteral("%1 (%2)").arg(title0).arg(copy);
        titles.insert(title);
        const QString body = text.mid(text.indexOf(title0) + title0.size()).trimmed();
        const QString id = QStringLiteral("00000000-0000-4000-8000-%1").arg(index++, 12, 10, QLatin1Char('0'));
        QFile file(folder + QLatin1Char('/') + id + QStringLiteral(".note"));
        if (!file.open(QIODevice::WriteOnly))
            return false;
        const QString date = isoDate(note.lastModifiedDate);
        const QString xml = QStringLiteral(
            "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
            "<note version=\"0.3\" xmlns:link=\"http://beatniksoftware.com/tomboy/link\" "
            "xmlns:size=\"http://beatniksoftware.com/tomboy/size\" xmlns=\"http://beatniksoftware.com/tomboy\">\n"
            "  <title>%1</title>\n"
            "  <text xml:space=\"preserve\"><note-content version=\"0.1\">%1\n\n%2</note-content></text>\n"
            "  <last-change-date>%3</last-change-date>\n"
            "  <last-metadata-change-date>%3</last-metadata-change-date>\n"
            "  <create-date>%3</create-date>\n"
            "  <cursor-position>0</cursor-position>\n"
            "  <selection-bound-position>-1</selection-bound-position>\n"
            "  <width>450</width>\n  <height>360</height>\n  <x>0</x>\n  <y>0</y>\n"
            "  <open-on-startup>False</open-on-startup>\n"
            "</note>\n")
                                .arg(escaped(title), escaped(body), date);
        if (file.write(xml.toUtf8()) < 0)
            return false;
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: bench_peer_seed COUNT DIR\n");
        return 2;
    }
    // The folders hold notes: their owner's only.
    ::umask(077);
    const int count = std::atoi(argv[1]);
    const QString dir = QFile::decodeName(argv[2]);
    const QString tovikHome = dir + QStringLiteral("/toviknote");
    if (count <= 0 || !QDir().mkpath(tovikHome)) {
        std::fprintf(stderr, "bench_peer_seed: cannot prepare %s\n", argv[2]);
        return 1;
    }
    qputenv("HOME", QFile::encodeName(tovikHome));
    writeBenchStore(count);
    if (!writeNoteFiles(dir + QStringLiteral("/gnote/.local/share/gnote"), count)
        || !writeNoteFiles(dir + QStringLiteral("/tomboy-ng/.local/share/tomboy-ng"), count)) {
        std::fprintf(stderr, "bench_peer_seed: cannot write the note files\n");
        return 1;
    }
    return 0;
}
