// The small pieces every page of the site is made with: texts from the
// archive made safe for HTML, links percent-encoded, relative links between
// folders, and files written only when their bytes change.
#pragma once
#include <string>

// A text of arbitrary bytes as HTML text or attribute value: & < > " ' as
// entities; a byte sequence that is not UTF-8 (a stray byte, an overlong
// form, a surrogate, beyond U+10FFFF) as U+FFFD, one per byte; the control
// characters U+0000-U+001F as their pictures (U+2400-U+241F), DEL as U+2421
// and U+0080-U+009F as U+FFFD, so that nothing invisible reaches the page.
std::string Html(const std::string& text);

// Every byte outside A-Z a-z 0-9 - . _ ~ / as %XX (upper-case hex).
std::string PercentEncoded(const std::string& path);

// The path of `target` relative to the folder `from`, both absolute and
// normalised ("/a/b/c", no "." or ".." parts): "../../x/y".
std::string RelativePath(const std::string& from, const std::string& target);

// An absolute path without "." and ".." parts and repeated slashes; a
// relative path is taken from the current folder.
std::string AbsolutePath(const std::string& path);

// The file's bytes; false when it cannot be read.
bool ReadBytes(const std::string& path, std::string& bytes);

// Writes `bytes` to `path` (beside it, then renamed into place) unless the
// file holds exactly them already; `written` says whether it did. False with
// "Can't write PATH: ..." when it cannot.
bool WriteIfChanged(const std::string& path, const std::string& bytes, bool& written, std::string& error);
