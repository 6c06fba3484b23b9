#pragma once

#include <QByteArray>
#include <QMetaType>
#include <QString>
#include <cstdint>

// One note or to-do list, as it is stored and synchronised.
struct Note {
    QString id;                 // column "noteid"
    QByteArray content;         // UTF-8 text, or the to-do list's JSON array
    int64_t type = 1;           // ItemType raw value; any integer is kept as is
    bool isdeleted = false;
    int64_t createdDate = 0;    // seconds since 1970, column "createdtime"
    int64_t lastModifiedDate = 0; // seconds since 1970, column "lastmodifiedtime"
    QString title;
    int64_t isfavorite = 0;
    QString filelink;
};

Q_DECLARE_METATYPE(Note)
