#pragma once

// How text comparisons treat case and diacritics: exact, case ignored ([c]), or case and
// diacritics ignored ([cd]).
enum class TextComparison { Exact, CaseInsensitive, CaseDiacriticInsensitive };
