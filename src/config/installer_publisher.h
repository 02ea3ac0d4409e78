#pragma once
// The publisher whose Authenticode signature the downloaded installer must
// carry before it is started; empty when the build asks for none. Each
// executable compiles its own definition from KELVORA_INSTALLER_PUBLISHER
// (config/installer_publisher.cpp.in); never read at run time.
namespace kelvora {
extern const wchar_t kInstallerPublisher[];
}
