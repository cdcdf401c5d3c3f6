#pragma once

#include <QObject>
#include <QString>

// Which part of the history the shelf lists, as chosen in the filter bar.
class ShelfFilter
{
    Q_GADGET
    // The case of the filter.
    Q_PROPERTY(Kind kind READ kind CONSTANT)
    // For a label filter, the label's identifier as items carry it in labelID; empty otherwise.
    Q_PROPERTY(QString labelID READ labelID CONSTANT)

public:
    enum class Kind { All, Pinned, Texts, Links, Images, Files, Label };
    Q_ENUM(Kind)

    // Only a label filter keeps its identifier; every other case drops it.
    explicit ShelfFilter(Kind kind = Kind::All, const QString &labelID = {});
    static ShelfFilter label(const QString &labelID) { return ShelfFilter(Kind::Label, labelID); }

    Kind kind() const { return m_kind; }
    QString labelID() const { return m_labelID; }

    // Label identifiers compare exactly, case included.
    friend bool operator==(const ShelfFilter &, const ShelfFilter &) = default;

private:
    Kind m_kind;
    QString m_labelID;
};

// What the card strip shows when nothing is listed; search text plays no part.
QString emptyTitle(const ShelfFilter &filter);
