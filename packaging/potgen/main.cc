// kav-potgen OUTPUT: writes the gettext template of the message catalogue.
#include <cstdio>
#include <fstream>

#include "platform/log/MessageCatalog.h"
#include "packaging/potgen/PotWriter.h"

using orv::log::catalogBegin;
using orv::log::catalogEnd;
using orv::log::CatalogEntry;

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: kav-potgen OUTPUT.pot\n");
        return 2;
    }
    PotWriter pot(KAV_VERSION);
    for (const CatalogEntry* entry = catalogBegin(); entry != catalogEnd(); ++entry)
        pot.add(entry->name, entry->text);
    std::ofstream out(argv[1], std::ios::trunc);
    pot.write(out);
    out.close();
    if (!out) {
        std::perror(argv[1]);
        return 1;
    }
    return 0;
}
