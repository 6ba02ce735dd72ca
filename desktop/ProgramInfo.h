#pragma once

// Who makes the program, as the about box shows it. The address is a placeholder until the
// program has a page of its own.
constexpr const char *kMakerNotice = "(c) The Vorel server developers";
constexpr const char *kMakerUrl = "https://www.example.org/vorel-server/";

// The suffix the title and the about box put behind the version: the build's pointer width.
constexpr const char *kBuildWidth = sizeof(void *) == 8 ? " (x64)" : " (x86)";
