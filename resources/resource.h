// Resource identifiers, shared by the program and the resource script.
#pragma once

#define IDI_APP 20001
