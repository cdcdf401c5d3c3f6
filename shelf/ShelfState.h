#pragma once

#include <QObject>

// What the panel controller and the shelf's root view share.
class ShelfState : public QObject
{
    Q_OBJECT
    // True while the shelf panel is on screen and taking part in interaction. Only the panel
    // controller writes it.
    Q_PROPERTY(bool presented READ isPresented WRITE setPresented NOTIFY presentedChanged)

public:
    explicit ShelfState(QObject *parent = nullptr);

    bool isPresented() const { return m_presented; }
    void setPresented(bool presented);

Q_SIGNALS:
    void presentedChanged(bool presented);

private:
    bool m_presented = false;
};
