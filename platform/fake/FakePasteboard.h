#pragma once

#include "platform/pasteboard/Pasteboard.h"

#include <QMap>

// An in-memory clipboard. Tests script what another application "copied" with
// copyFromOtherApplication and read back what this application wrote.
class FakePasteboard final : public Pasteboard
{
public:
    qint64 changeCount() const override;
    std::optional<QStringList> types() const override;
    std::optional<QList<QUrl>> fileUrls() const override;
    std::optional<QByteArray> data(const QString &type) const override;
    std::optional<QString> string() const override;

    void clearContents() override;
    void setData(const QByteArray &data, const QString &type) override;
    void setString(const QString &text, const QString &type) override;
    void writeAlsoToPrimarySelection() override;

    // Replaces the contents as another client would: the entries in this order.
    void copyFromOtherApplication(const QList<QPair<QString, QByteArray>> &entries);
    // Empties the clipboard as when its owner quits, and says so with contentsLost.
    void ownerQuits();
    // Makes types() fail, as when the clipboard cannot be read.
    void setUnreadable(bool unreadable);
    // Makes data(type) fail while the type is still listed, as when the owner refuses it.
    void refuseType(const QString &type) { m_refusedTypes.append(type); }

    // The entries of the current contents, in the order they were written.
    QList<QPair<QString, QByteArray>> entries() const { return m_entries; }
    // How many times clearContents was called.
    int clearCount() const { return m_clearCount; }
    // Whether the current write also went to the primary selection.
    bool wroteToPrimarySelection() const { return m_primary; }

private:
    qint64 m_changeCount = 0;
    int m_clearCount = 0;
    bool m_unreadable = false;
    QStringList m_refusedTypes;
    bool m_primary = false;
    QList<QPair<QString, QByteArray>> m_entries;
};
