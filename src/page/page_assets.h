// The page's HTML template, style and script, built into the tool from the
// files beside this header, and the Content-Security-Policy that lets that
// style and that script alone run (by their SHA-256) and forbids every request.
#pragma once

namespace wldmap {

extern const char kPageHtml[];
extern const char kPageCss[];
extern const char kPageJs[];
extern const char kPageCsp[];

}  // namespace wldmap
