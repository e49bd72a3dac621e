#pragma once

#include <vector>

namespace kestrel {

// One thing a merge pass or a picture verdict changed, for the window to
// show. A pass reports its effects in store order, so a window that applies
// them in turn ends where the one-by-one merge would.
struct CatalogueEffect {
    enum class Kind {
        // The home record set the home URL while it was empty
        // (`homeWasEmpty`: stop and refresh become usable, the home page
        // opens), or changed it.
        HomeUrlSet,
        // Link `link` took the next place. Its button comes at once; its
        // picture test of `hotPicture` is due.
        LinkAdded,
        // Link `link` was replaced by a record that differs in some byte.
        LinkChanged,
        // Link 1 opens by itself: the window was not navigated yet.
        OpenFirstLink,
        // The picture test of link `link` ended; when not `usable`, both its
        // pictures were emptied.
        PictureVerdict,
        // Link `link`, numbered as before, left: the classroom's list no
        // longer names it. The links after it moved up by one.
        LinkRemoved,
        // The links took the order of the classroom's list.
        LinksReordered,
    };

    Kind kind;
    int link = 0;
    bool homeWasEmpty = false;
    bool usable = false;
};

using CatalogueEffects = std::vector<CatalogueEffect>;

// Whether the effects change what the link buttons show.
bool ChangesLinkButtons(const CatalogueEffects& effects);

} // namespace kestrel
