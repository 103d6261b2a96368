#pragma once

using DWORD = unsigned;
