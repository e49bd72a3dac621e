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
    // More hosts the lesson-only mode allows, single spaces between; they go
    // on the air in the classroom state, not in the catalogue.
    std::string hosts;
};

// The edit as the announcer's catalogue file, without the hosts. Assumes
// CheckCatalogueEdit passed: no field holds a line break.
std::string CatalogueEditText(const CatalogueEdit& edit);

// The edit as the page keeps it in lesson sets and the history: the
// catalogue after a comment line with the hosts, which the announcer's
// reader skips. ReadCatalogueEdit reads both forms.
std::string SavedEditText(const CatalogueEdit& edit);

// Where a problem lies, so that the page shows it under its own field.
struct EditPlace {
    int link = -1;     // -1: the home page, or the edit as a whole
    std::string field; // "home", "hosts", "name", "caption", "url", "picture"; empty: none
};

// Checks the edit with the announcer's own catalogue rules (links, lengths
// in the pupils' encoding, unique names, not "home"), that every address is
// http or https, and that the hosts are lower-case DNS names or IPv4
// addresses that fit the state. Returns "" or what is wrong, in Chinese
// words a teacher knows, naming the link; `place` says where, when given.
std::string CheckCatalogueEdit(const CatalogueEdit& edit, EditPlace* place = nullptr);

// Reads a catalogue file back into an edit; false when the file is not a
// valid catalogue.
bool ReadCatalogueEdit(const std::string& text, CatalogueEdit& edit);

} // namespace kestrel
