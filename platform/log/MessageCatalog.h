// The message catalogue: identifier number, name and printf-style text.
#pragma once

struct CatalogEntry {
    int id;
    const char* name;
    const char* text; // untranslated; looked up with dgettext at run time
};

// The entry of `id`, or nullptr when the catalogue has none.
const CatalogEntry* findCatalogEntry(int id);

// The entry's text in the current message locale. Looked up once and then
// kept: call forgetTranslations() after binding the text domain or changing
// the locale.
const char* translatedText(const CatalogEntry& entry);
void forgetTranslations();

// Every entry, in identifier order (for tooling such as the .pot generator).
const CatalogEntry* catalogBegin();
const CatalogEntry* catalogEnd();

inline constexpr const char* TEXT_DOMAIN_NAME = "KTRX_VOTRA_CMD";
