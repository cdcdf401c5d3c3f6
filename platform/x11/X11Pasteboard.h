#pragma once

#include "platform/pasteboard/Pasteboard.h"
#include "platform/x11/SelectionReadLimits.h"

#include <QPair>

#include <memory>

// The X11 CLIPBOARD selection.
//
// Changes are counted from XFixes selection events on a connection of our own: every new
// owner, also one taking over with identical contents, and the owner's exit. Our own writes
// go through QClipboard (Qt then serves them to other clients) and are counted when they
// are published, so their echo does not move the count again.
//
// Contents owned by another client are read through our own connection with the deadlines
// of SelectionReadLimits, never through QClipboard, whose reads wait up to 5 s per type on
// the main thread. Our own contents are answered from memory.
class X11Pasteboard final : public Pasteboard
{
    Q_OBJECT

public:
    // None when the X server cannot be reached or lacks XFixes.
    static std::unique_ptr<X11Pasteboard> create(const SelectionReadLimits &limits = {});
    ~X11Pasteboard() override;

    qint64 changeCount() const override;
    std::optional<QStringList> types() const override;
    std::optional<QList<QUrl>> fileUrls() const override;
    std::optional<QByteArray> data(const QString &type) const override;
    std::optional<QString> string() const override;

    void clearContents() override;
    void setData(const QByteArray &data, const QString &type) override;
    void setString(const QString &text, const QString &type) override;
    void writeAlsoToPrimarySelection() override;

    // The most file URLs one read hands out.
    static constexpr qsizetype maxFileUrls = 100000;

private:
    struct State;
    explicit X11Pasteboard(std::unique_ptr<State> state);

    enum class Change { NewOwner, OwnerQuit };
    void noteChange(Change change);
    void schedulePublish();
    void publishPendingWrite() const;
    void catchUp() const;
    bool ownedByUs() const;
    std::optional<QList<QByteArray>> offeredTargets() const;
    std::optional<QByteArray> convert(const QByteArray &target) const;
    std::optional<QByteArray> ownData(const QString &type) const;

    std::unique_ptr<State> d;
};
