// Fuzz target: the settings import text, the store it is written into, and the settings record
// read from that store (every reader rule meets whatever text the import brought).
#include "fuzzsupport.h"

#include "platform/settingsstore.h"
#include "settings/settingsexport.h"
#include "settings/settingsrecord.h"

using namespace lapido;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::environment();
    fuzz::resetBetweenInputs();
    const ParsedSettings parsed = parseSettingsText(QString::fromUtf8(fuzz::bytes(data, size)));
    if (!parsed.error.isEmpty()) {
        fuzz::check(parsed.entries.empty(), "a refused import still holds entries");
        return 0;
    }

    auto store = SettingsStore::open(QStringLiteral(":memory:"));
    store->setValues(parsed.entries);
    for (const SettingsEntry& e : parsed.entries)
        fuzz::check(store->value(e.section, e.key).has_value(), "an imported value is missing from the store");

    // What the store holds exports and imports again unchanged.
    const std::vector<SettingsEntry> stored = store->entries();
    const ParsedSettings again = parseSettingsText(exportSettingsText(stored));
    fuzz::check(again.error.isEmpty(), "an export of the store is refused on import");
    fuzz::check(again.entries == stored, "an export of the store imports as different values");

    TSettings record;
    LoadSettingsFromRegistery(*store, record);
    settingsRecordLines(record);
    return 0;
}
