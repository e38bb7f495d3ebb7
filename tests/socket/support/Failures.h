#pragma once

#include <functional>
#include <string>

// The message of the exception that `call` raises; "(no exception)" if none.
std::string MessageOf(const std::function<void()>& call);
