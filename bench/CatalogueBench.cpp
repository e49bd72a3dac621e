// The merge runs once a second on the window's thread. A pass in which
// nothing changed must cost microseconds: one store copy and one record
// comparison per store record, no fetch and no rebuild.

#include "catalogue/HomeUrl.h"
#include "catalogue/LinkCatalogue.h"
#include "channel/LinkRecordStore.h"
#include "tests/support/CountingCatalogueHost.h"
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
    test::CountingCatalogueHost host;
    CLinkCatalogue catalogue;
    catalogue.Merge(store, host);
    const int fetches = host.fetches;
    const int rebuilds = host.rebuilds;

    for (auto _ : state)
        benchmark::DoNotOptimize(catalogue.Merge(store, host));

    if (host.fetches != fetches || host.rebuilds != rebuilds || catalogue.LinkCount() != kMaxLinks)
        state.SkipWithError("an unchanged pass fetched or rebuilt");
    HomeUrl().clear();
}
BENCHMARK(BM_MergePassWithNothingChanged)->Unit(benchmark::kMicrosecond);

} // namespace
} // namespace kestrel
