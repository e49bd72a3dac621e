// The merge runs once a second on the window's thread. A pass in which
// nothing changed must cost microseconds: one store copy and one record
// comparison per store record, no fetch and no rebuild.

#include "catalogue/HomeUrl.h"
#include "catalogue/LinkCatalogue.h"
#include "channel/LinkRecordStore.h"
#include "tests/support/CataloguePasses.h"
#include "tests/support/LinkRecordBuilder.h"

#include <benchmark/benchmark.h>

#include <string>

namespace kestrel {
namespace {

void BM_MergePassWithNothingChanged(benchmark::State& state)
{
    // A full store: the home record, twenty links, and nine names beyond
    // the twenty the toolbar holds.
    CLinkRecordStore store;
    store.AddRecord(test::LinkRecordBuilder("home").Url("http://127.0.0.1/index.html"));
    for (int i = 1; i < CLinkRecordStore::kCapacity; ++i) {
        const std::string name = "lesson" + std::to_string(i);
        store.AddRecord(test::LinkRecordBuilder(name)
                            .Caption("caption of " + name)
                            .Url("http://127.0.0.1/" + name + ".html")
                            .HotPicture("http://127.0.0.1/" + name + "-hot.bmp")
                            .CoolPicture("http://127.0.0.1/" + name + "-cool.bmp"));
    }
    test::CataloguePasses passes;
    CLinkCatalogue catalogue;
    passes.Pass(catalogue, store);
    passes.Pass(catalogue, store);

    bool changed = false;
    for (auto _ : state) {
        const CatalogueEffects effects = catalogue.Merge(store, true);
        changed = changed || !effects.empty();
        benchmark::DoNotOptimize(effects.data());
    }

    if (changed || catalogue.LinkCount() != kMaxLinks)
        state.SkipWithError("an unchanged pass reported a change");
    HomeUrl().clear();
}
BENCHMARK(BM_MergePassWithNothingChanged)->Unit(benchmark::kMicrosecond);

} // namespace
} // namespace kestrel
