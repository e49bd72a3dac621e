#pragma once

#include <string>
#include <vector>

namespace kestrel {

// What the catalogue merge asks of the window around it. The main window
// implements it; tests stand in for it without a window.
class CCatalogueHost {
public:
    // The first home record is known: stop and refresh become usable.
    virtual void EnableStopAndRefresh() = 0;
    virtual void NavigateHome() = 0;
    // True once the user went back, forward or refreshed, or link 1 was
    // opened by itself: from then on new links no longer open themselves.
    virtual bool IsNavigated() const = 0;
    // Marks the window navigated, opens link 1 as its button would, and
    // enables refresh.
    virtual void OpenFirstLink() = 0;
    // Test-fetches each picture address; one answer per address, true when
    // a usable picture came back.
    virtual std::vector<bool> TestPictures(const std::vector<std::string>& urls) = 0;
    virtual void RebuildLinkButtons() = 0;

protected:
    ~CCatalogueHost() = default;
};

} // namespace kestrel
