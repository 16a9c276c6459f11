// Plain-text output of tables for terminals and files: display widths of
// UTF-8 text (East Asian wide and full-width characters take two columns,
// combining marks none), aligned tables and CSV fields.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace qz::client {

// Terminal columns that text takes. Invalid UTF-8 bytes count one column
// each; control characters none.
size_t displayWidth(std::string_view utf8);

// Rows of cells under a header line, each column as wide as its widest
// cell, columns separated by two spaces, a dashed line under the header.
// Cells are left-aligned except where rightAlign[i] is true. Trailing
// spaces are trimmed from each line. Missing cells count as empty.
std::string formatTable(const std::vector<std::string>& header,
                        const std::vector<std::vector<std::string>>& rows,
                        const std::vector<bool>& rightAlign = {});

// A CSV field: quoted (with doubled quotes) when it holds a comma, a quote,
// a line break or leading/trailing spaces; as is otherwise.
std::string csvField(std::string_view text);

// One CSV line (with "\r\n" at the end, as RFC 4180 has it).
std::string csvLine(const std::vector<std::string>& cells);

}  // namespace qz::client
