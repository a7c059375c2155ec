// Windows Script Files (.wsf): jobs of script blocks and type-library
// references, read the way script hosts read them.
//
//   <package>                                  optional, around several jobs
//     <job id="main">
//       <reference object="Some.ProgID"/>      or guid="{...}" version="2.0"
//       <script language="VBScript" src="lib.vbs"/>
//       <script language="JScript"><![CDATA[ ... ]]></script>
//     </job>
//   </package>
//
// A script body is taken as it stands up to its </script>; CDATA markers in
// it are blanked out (so the text keeps its lines and columns), and after an
// <?xml ...?> declaration the character references (&lt; &amp; ...) outside
// CDATA are decoded, as XML wants.  Comments, <?job ...?> and elements the
// host has no use for (<runtime>, <resource>, <description>, ...) are skipped.
#pragma once

#include <string>
#include <vector>

namespace zelhost {

struct WsfScript {
    std::wstring language;
    std::wstring src;     // the src attribute, "" for none
    std::wstring code;    // the inline body, preceded by blanks up to its column
    bool hasCode = false;
    unsigned long firstLine = 0;  // 0-based file line of the body's first character
    unsigned long line = 0;       // 1-based line of the <script> tag
};

struct WsfReference {
    std::wstring object;   // a ProgID
    std::wstring guid;     // or a type library's id
    std::wstring version;  // "major.minor", "" for the highest registered
    unsigned long line = 0;
};

struct WsfJob {
    std::wstring id;
    std::vector<WsfScript> scripts;
    std::vector<WsfReference> references;
};

// The jobs of a file, in file order.  Returns false with a message naming
// the 1-based line in `error` when the file is not a job file.
bool ParseWsf(const std::wstring& text, std::vector<WsfJob>& jobs, std::wstring& error);

} // namespace zelhost
