#pragma once

#include "hotkeys/Services.h"

#include <type_traits>

namespace Tests {

// Hands the hot-key layer one service, keeping the others it has (for tests of a single part).
template <typename T> void useService(T *Hotkeys::Services::*member, std::type_identity_t<T> *service)
{
    Hotkeys::Services services = Hotkeys::services();
    services.*member = service;
    Hotkeys::useServices(services);
}

} // namespace Tests
