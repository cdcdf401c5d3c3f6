#include "shelf/ShelfState.h"

ShelfState::ShelfState(QObject *parent)
    : QObject(parent)
{
}

void ShelfState::setPresented(bool presented)
{
    if (m_presented == presented)
        return;
    m_presented = presented;
    Q_EMIT presentedChanged(presented);
}
