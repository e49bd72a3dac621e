#pragma once

#include "net/PictureFetch.h"

#include <QIcon>
#include <QList>

#include <string>
#include <vector>

namespace kestrel {

class CLinkCatalogue;

// Fetches all the addresses as one batch, with the window kept alive.
// bodies[i] answers urls[i]; size 0 where nothing usable came back.
std::vector<FetchedBody> FetchPictureBatch(const std::vector<std::string>& urls);

// Decodes a fetched picture in memory; a null image when the bytes are no
// picture or claim an absurd size.
QImage DecodePicture(const FetchedBody& body);

// One icon per link, in link order, from both its pictures fetched together:
// the normal image from `coolPicture` when it gives one, else from
// `hotPicture`; the hot image from `hotPicture`. A missing image gets the
// neutral stand-in, so every link has exactly its own two.
QList<QIcon> FetchLinkIcons(const CLinkCatalogue& catalogue);

} // namespace kestrel
