// The machines the settings dialog offers when the operator picks a
// computer: those the local network announces through DNS-SD (when the
// avahi-browse tool is present) and those named in /etc/hosts.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace qz::admin {

// Host names of an /etc/hosts text: every name after the address on each
// line, comments (from '#') dropped, without localhost names and
// duplicates, in order of first appearance.
std::vector<std::string> ParseHostsFile(std::string_view text);

// Host names from the parsable output of "avahi-browse -a -r -t -p":
// the host field of each resolved ("=") line, without the ".local" suffix,
// without duplicates.
std::vector<std::string> ParseAvahiBrowse(std::string_view text);

// Announced machines first, then /etc/hosts, without duplicates. Never
// throws: a missing tool or file contributes nothing. May take up to a few
// seconds while the network answers.
std::vector<std::string> ListNetworkComputers(const std::string& hostsPath = "/etc/hosts");

}  // namespace qz::admin
