#pragma once
// The fallback addresses of the installer, tried in order after the download
// address (config/download_address.h), ended by a null pointer; only the
// null pointer when the build names none. Each executable compiles its own
// definition from KELVORA_FALLBACK_URLS (config/installer_publisher.cpp.in);
// never read at run time.
namespace kelvora {
extern const wchar_t* const kFallbackUrls[];
}
