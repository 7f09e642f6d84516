// The settings table the host shows to the user (GetParameters): pages, groups and parameters with
// their captions, types, defaults and descriptions, as one XML document in UTF-8.
#pragma once

#include <string>
#include <vector>

// The table printed with TinyXML's printer at its default indentation. `ports` are the numbers of
// the system's COM ports, offered in this order as the choices of "Port"; `withPaymentMeans` adds
// the page of payment-mean names (the first firmware generation of the printer). Empty when the
// document cannot be built.
std::string BuildSettingsTable(const std::vector<int>& ports, bool withPaymentMeans);
