// The settings-file reader on arbitrary files. Whatever it takes from a file, the file it
// writes reads back as the same record.

#include "FuzzSupport.h"

#include "PSettings.h"

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    fuzz::initialize(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QString path = fuzz::scratchFile(QStringLiteral("VorelServer_settings.xml"));
    fuzz::check(fuzz::writeFile(QStringLiteral("VorelServer_settings.xml"),
                                QByteArray(reinterpret_cast<const char *>(data), int(size))),
                "the input file could be written");
    PSettings read;
    read.setDefaults();
    if (read.read(path) != PSettings::LoadResult::Loaded)
        return 0;
    fuzz::check(read.save(path), "the record is saved");
    PSettings again;
    again.setDefaults();
    fuzz::check(again.read(path) == PSettings::LoadResult::Loaded, "a saved file loads");
    fuzz::check(again == read, "a saved file reads back as the same record");
    return 0;
}
