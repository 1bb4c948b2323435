// Resolving a relative URL against its base, for NSURL objects archived with
// a base.
#pragma once

#include <string>
#include <string_view>

namespace bplist {

// Resolves `reference` against `base` as a browser resolves a link (RFC
// 3986, section 5.2): the URL text of an NSURL with a base.
std::string ResolveUrl(std::string_view base, std::string_view reference);

}  // namespace bplist
