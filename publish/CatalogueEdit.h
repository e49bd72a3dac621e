#pragma once

#include <string>
#include <vector>

namespace kestrel {

// A catalogue as the page edits it: UTF-8 fields, links in toolbar order.
struct CatalogueEdit {
    struct Link {
        std::string name;
        std::string caption;
        std::string url;
        std::string picture;
        // Kept as it came from a catalogue file; the page clears it when a
        // new picture is uploaded.
        std::string coolPicture;
    };
    std::string home;
    std::vector<Link> links;
};

// The edit as the announcer's catalogue file. Assumes CheckCatalogueEdit
// passed: no field holds a line break.
std::string CatalogueEditText(const CatalogueEdit& edit);

// Where a problem lies, so that the page shows it under its own field.
struct EditPlace {
    int link = -1;     // -1: the home page, or the edit as a whole
    std::string field; // "home", "name", "caption", "url", "picture"; empty: none
};

// Checks the edit with the announcer's own catalogue rules (links, lengths
// in the pupils' encoding, unique names, not "home"), and that every
// address is http or https. Returns "" or what is wrong, in Chinese words a
// teacher knows, naming the link; `place` says where, when given.
std::string CheckCatalogueEdit(const CatalogueEdit& edit, EditPlace* place = nullptr);

// Reads a catalogue file back into an edit; false when the file is not a
// valid catalogue.
bool ReadCatalogueEdit(const std::string& text, CatalogueEdit& edit);

} // namespace kestrel
