#pragma once

#include <QString>

// Texts count as equal when they are canonically equivalent: an editor may hand
// back a decomposed form of what was stored precomposed.
inline bool sameText(const QString &a, const QString &b)
{
    return a == b || a.normalized(QString::NormalizationForm_C) == b.normalized(QString::NormalizationForm_C);
}
