#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QUuid>
#include <stdexcept>

// One entry of a to-do list.
struct TodoItem {
    QUuid id;
    QString text;
    bool isCompleted = false;

    static TodoItem makeEmpty() { return TodoItem{QUuid::createUuid(), QString(), false}; }
};

// Thrown by decodeTodoItems(); what() describes what did not fit.
class TodoDecodeError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Compact JSON array of {"id","text","isCompleted"} objects, keys in that order,
// upper-case UUID text, "/" escaped as "\/", non-ASCII as raw UTF-8.
QByteArray encodeTodoItems(const QList<TodoItem> &items);

// Strict reading of that form: every key present with its exact JSON type, any
// UUID case, extra keys ignored. Throws TodoDecodeError; never a partial list.
QList<TodoItem> decodeTodoItems(const QByteArray &json);
