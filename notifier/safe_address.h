// Which lyrics addresses may be handed to the shell. The address comes from the network, and
// the shell would open a file path, a share or any registered scheme just as readily.
#pragma once

#include <string_view>

// True for an absolute web address: "http://" or "https://" (the scheme in any letter case)
// followed by at least one character, and nothing in it that could end the address early on
// a handler's command line (white space, control characters, double quotes).
bool IsWebAddress(std::string_view address);
