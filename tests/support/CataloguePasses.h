#pragma once

#include "base/ReceivedRecords.h"
#include "catalogue/HomeUrl.h"
#include "catalogue/LinkCatalogue.h"

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace kestrel::test {

// Runs merge passes as the window does, without a window: each pass's
// effects are applied in order, then the picture tests it asked for are
// answered at once by `usable` (the address, and its place among the pass's
// tests). Counts what the window would have done.
class CataloguePasses {
public:
    // Returns whether the pass changed the links, which rebuilds the buttons.
    bool Pass(CLinkCatalogue& catalogue, const CReceivedRecords& store)
    {
        const CatalogueEffects pass = catalogue.Merge(store, navigated);
        std::vector<std::string> tests;
        bool changed = false;
        for (const CatalogueEffect& effect : pass) {
            effects.push_back(effect);
            switch (effect.kind) {
            case CatalogueEffect::Kind::HomeUrlSet:
                if (effect.homeWasEmpty) {
                    ++stopAndRefreshEnabled;
                    homeNavigations.push_back(HomeUrl());
                }
                break;
            case CatalogueEffect::Kind::LinkAdded:
                tests.emplace_back(FieldText(catalogue.Link(effect.link).hotPicture));
                changed = true;
                break;
            case CatalogueEffect::Kind::LinkChanged:
            case CatalogueEffect::Kind::LinkRemoved:
            case CatalogueEffect::Kind::LinksReordered:
                changed = true;
                break;
            case CatalogueEffect::Kind::OpenFirstLink:
                navigated = true;
                ++firstLinkOpenings;
                break;
            case CatalogueEffect::Kind::PictureVerdict:
                break;
            }
        }
        if (!tests.empty())
            pictureBatches.push_back(tests);
        for (std::size_t i = 0; i < tests.size(); ++i) {
            for (const CatalogueEffect& verdict : catalogue.SettlePictureTest(tests[i], usable(tests[i], i)))
                effects.push_back(verdict);
        }
        rebuilds += changed;
        return changed;
    }

    int TestedPictureCount() const
    {
        int count = 0;
        for (const auto& batch : pictureBatches)
            count += static_cast<int>(batch.size());
        return count;
    }

    std::function<bool(const std::string& url, std::size_t index)> usable = [](const std::string&, std::size_t) {
        return true;
    };
    bool navigated = false;
    int stopAndRefreshEnabled = 0;
    int firstLinkOpenings = 0;
    int rebuilds = 0;
    std::vector<std::string> homeNavigations;
    std::vector<std::vector<std::string>> pictureBatches;
    // Every effect of every pass and verdict, in the order they came.
    CatalogueEffects effects;
};

} // namespace kestrel::test
