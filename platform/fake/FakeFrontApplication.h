#pragma once

#include "platform/frontapp/FrontApplication.h"

// A front application that tests set at will.
class FakeFrontApplication final : public FrontApplicationProvider
{
public:
    std::optional<FrontApplication> frontApplication() const override { return m_front; }
    void setFrontApplication(std::optional<FrontApplication> front) { m_front = std::move(front); }

private:
    std::optional<FrontApplication> m_front;
};
