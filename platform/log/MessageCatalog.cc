#include "platform/log/MessageCatalog.h"

#include <libintl.h>

#include <atomic>
#include <iterator>

namespace orv::log {

namespace {

constexpr const auto& catalog = detail::messageCatalog;

// dgettext looks at the environment and takes a lock on every call; a
// running daemon's locale does not change, so each text is looked up once.
std::atomic<const char*> translations[std::size(catalog)];

}

const char* translatedText(const CatalogEntry& entry)
{
    std::atomic<const char*>& slot = translations[&entry - std::begin(catalog)];
    const char* text = slot.load(std::memory_order_acquire);
    if (!text) {
        text = dgettext(TEXT_DOMAIN_NAME, entry.text);
        slot.store(text, std::memory_order_release);
    }
    return text;
}

void forgetTranslations()
{
    for (auto& slot : translations)
        slot.store(nullptr, std::memory_order_release);
}

const CatalogEntry* catalogBegin()
{
    return std::begin(catalog);
}
const CatalogEntry* catalogEnd()
{
    return std::end(catalog);
}

}
