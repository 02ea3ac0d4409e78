#pragma once
// How many further requests a dropped download may make for its missing rest;
// 0 when the build asks for none. Each executable compiles its own
// definition from KELVORA_RESUME_ATTEMPTS (config/installer_publisher.cpp.in);
// never read at run time.
namespace kelvora {
extern const int kResumeAttempts;
}
