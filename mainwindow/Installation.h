#pragma once

// A new, empty installation for a user who starts the program for the first
// time: the data directory with "Stammdaten" holding everything start-up
// reads, so that the program opens with its settings to fill in.

#include <string>

namespace brenvo {

// The data directory holds "Stammdaten".
bool IsInstallation(const std::string& root);

// Creates root (with its parents) and, when it holds no "Stammdaten" yet,
// "Stammdaten" with an empty settings table "brenvo.XML" (every setting at
// its default), an empty cost-bearer directory whose key table names the
// federal states, empty invoice and order archives and the invoice template
// "eingabe_vorlage.xml", and the input basket "eingabe"; the other working
// directories are made by start-up. An existing "Stammdaten" is left
// exactly as it is. "Stammdaten" is filled beside its place and renamed
// into it at the end, so an interrupted creation leaves no half
// installation behind. Fails with Error when a directory or file cannot be
// written.
void CreateInstallation(const std::string& root);

} // namespace brenvo
