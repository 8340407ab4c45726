// The only phase that changes the file system.
#pragma once

#include "select/select.h"

/// Deletes the file of every marked record in list order, announcing each
/// with an "Erasing : " line before its deletion; reports when nothing was
/// marked. A deletion the system refuses throws filesystem_error, leaving the
/// files after it in place.
void erase_marked(const file_list& files);
