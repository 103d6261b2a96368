// Graphics' public calls: draw target, clearing and presenting, draw settings, graphs and drawing.
// A graph handle is an engine handle of type 1; -2 names the back buffer and -4 the front screen.
#pragma once

#include "platform/win32/win32_types.h"

int SetDrawTarget(int target);
int ClearDrawTarget(const RECT* rect = nullptr);
int PresentFrame();

int SetDrawBrightness(int red, int green, int blue);

int LoadGraphFile(const char* path, int notUsed = 0);
int LoadDividedGraphFile(const char* path, int count, int across, int down, int pieceWidth,
                         int pieceHeight, int* handles, int notUsed = 0);
int DeriveGraph(int x, int y, int width, int height, int sourceGraph);
int DeleteGraphHandle(int graph);

int DrawGraphAtPoint(int x, int y, int graph, int transparent);
int DrawGraphStretched(int x1, int y1, int x2, int y2, int graph, int transparent);
int DrawGraphPart(int x, int y, int sourceX, int sourceY, int width, int height, int graph,
                  int transparent, int mirror);
int DrawGraphStretchedFloat(float x1, float y1, float x2, float y2, int graph, int transparent);
int DrawGraphMirrored(int x, int y, int graph, int transparent);
// Corners in the order top left, top right, bottom right, bottom left.
int DrawGraphFourCorners(float x1, float y1, float x2, float y2, float x3, float y3, float x4,
                         float y4, int graph, int transparent);
int DrawGraphPartStretched(float x1, float y1, float x2, float y2, int sourceX, int sourceY,
                           int width, int height, int graph, int transparent);
