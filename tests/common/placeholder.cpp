// SPDX-License-Identifier: MIT
// Keeps the helper library non-empty until its first helper lands.
namespace { [[maybe_unused]] int keepLibraryNonEmpty = 0; }
