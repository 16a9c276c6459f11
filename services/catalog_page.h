// docs/providers.md as text, generated from the provider catalogue, the
// schema's keys and the posting rules' descriptions, so that the page
// cannot drift from the code: a test compares the file with this text.
//
// Thread-safety: reentrant.
#pragma once

#include <string>

namespace qz::services {

// The whole page, in Markdown.
std::string ProviderCataloguePage();

}  // namespace qz::services
