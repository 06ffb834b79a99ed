#pragma once

namespace tv2 {

// The maker's web addresses the program knows. The version file holds one
// "key=a.b.c.d;" entry per product after the "[Norvane_VER]" marker; the
// history page lists what each version changed and where to get it.
inline constexpr const char* kVersionFileUrl = "https://www.norvane.example/versions/version.txt";
inline constexpr const char* kVersionHistoryUrl = "https://www.norvane.example/tarvelle2/history.html";
// The two links of the about box.
inline constexpr const char* kProductPageUrl = "https://www.norvane.example/tarvelle2/";
inline constexpr const char* kSupportPageUrl = "https://www.norvane.example/tarvelle2/support.html";

}  // namespace tv2
