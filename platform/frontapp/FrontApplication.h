#pragma once

#include <QString>

#include <optional>

// The application in front when a clipboard change is noticed.
struct FrontApplication {
    std::optional<QString> localizedName;
    // On Linux, the id of the active window's desktop entry (for example org.kde.kate).
    std::optional<QString> bundleIdentifier;

    bool operator==(const FrontApplication &) const = default;
};

class FrontApplicationProvider
{
public:
    virtual ~FrontApplicationProvider() = default;
    // None when no application is in front.
    virtual std::optional<FrontApplication> frontApplication() const = 0;
};
