// Paths as texts, by the platform's folder separator unless another is given:
// the folder of a path, its file name, a folder and a name joined, and the
// folders of a path made.
#pragma once

#include <string>

#include "platform/platform.h"

// The text before the last separator of `path`; empty when the path holds no
// separator or its only separator is its first character.
std::string FolderOfPath(const std::string& path, char separator = kFolderSeparator);

// The text after the last separator of `path` (all of it when it holds none).
std::string FileNameOfPath(const std::string& path, char separator = kFolderSeparator);

// Removes one trailing separator, if the text ends in one.
std::string WithoutTrailingSeparator(const std::string& folder, char separator = kFolderSeparator);

// `folder`, the separator and `name`; just `name` when `folder` is empty.
std::string JoinPath(const std::string& folder, const std::string& name, char separator = kFolderSeparator);

// Makes the folder with every level above it that is missing. True when it is
// a folder afterwards; else `failure`, when given, says why.
bool MakeFolders(const std::string& path, std::string* failure = nullptr);
