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

    // Replaces the contents as another client would: the entries in this order.
    void copyFromOtherApplication(const QList<QPair<QString, QByteArray>> &entries);
    // Makes types() fail, as when the clipboard cannot be read.
    void setUnreadable(bool unreadable);

    // The entries of the current contents, in the order they were written.
    QList<QPair<QString, QByteArray>> entries() const { return m_entries; }
    // How many times clearContents was called.
    int clearCount() const { return m_clearCount; }

private:
    qint64 m_changeCount = 0;
    int m_clearCount = 0;
    bool m_unreadable = false;
    QList<QPair<QString, QByteArray>> m_entries;
};
