#pragma once

#include "catalogue/CatalogueHost.h"

#include <string>
#include <vector>

namespace kestrel::test {

// A window for the merge that never navigates, takes every picture as
// usable and counts what a pass costs beyond the merge itself.
class CountingCatalogueHost final : public CCatalogueHost {
public:
    void EnableStopAndRefresh() override {}
    void NavigateHome() override {}
    bool IsNavigated() const override { return true; }
    void OpenFirstLink() override {}
    std::vector<bool> TestPictures(const std::vector<std::string>& urls) override
    {
        fetches += static_cast<int>(urls.size());
        return std::vector<bool>(urls.size(), true);
    }
    void RebuildLinkButtons() override { ++rebuilds; }

    int fetches = 0;
    int rebuilds = 0;
};

} // namespace kestrel::test
