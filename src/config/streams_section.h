// Rewrites the STREAMS section of the settings file as text: the camera
// manager replaces the listed cameras while every other line of the file
// (other sections, comments, blank lines) stays byte for byte.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace qmr {

// One listed camera: its name (the key) and its path, URL or "pattern ...".
using StreamListing = std::pair<std::string, std::string>;

// The STREAMS keys and values of a settings text in file order (as the
// settings reader sees them: trimmed, comments cut, repeated keys dropped).
std::vector<StreamListing> ReadStreamsSection(const std::string& text);

// The text with the key lines of the first [STREAMS] section replaced by the
// given listings, in their order, where the first key line was (or right
// after the header); comment and blank lines of the section stay. Without a
// STREAMS section one is appended (nothing when the list is empty).
std::string ReplaceStreamsSection(const std::string& text,
                                  const std::vector<StreamListing>& streams);

// Why a name or source cannot be stored as a STREAMS line; empty when it can.
std::string StreamListingProblem(const StreamListing& listing);

// Reads the file (a missing one is empty), replaces the section and writes it
// back through a temporary file (mode 0600, as the settings file holds the
// scrambled passwords). False with a message when it cannot.
bool WriteStreamsSection(const std::string& path, const std::vector<StreamListing>& streams,
                         std::string& problem);

}  // namespace qmr
