#pragma once
#include <windows.h>

// The product name: tooltip of the notification-area icon (also string 103 of the resources).
constexpr WCHAR PRODUCT_NAME[] = L"Tallyglass";
// The product's web page, opened by About.
constexpr WCHAR PRODUCT_HOME_PAGE[] = L"https://tallyglass.example.org/";
// The Start Menu's top-level window class.
constexpr WCHAR START_MENU_CLASS[] = L"DV2ControlHost";
