// Whether a person watches a stream: a progress line is redrawn in place
// only on a terminal, and written line by line into a file or pipe.
#pragma once

namespace qv::plat {

bool StandardErrorIsTerminal();

}  // namespace qv::plat
