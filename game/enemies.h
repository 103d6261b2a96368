// The 64-slot enemy pool and the 128-slot enemy bullet pool: spawning, firing, moving towards a
// point, and the per-frame update that runs each enemy's behaviour and then the drift, gravity
// and removal rules of its type.
#pragma once

#include <array>

#include "game/game_state.h"

using EnemyBehaviour = void (*)(EnemyRecord& enemy);
extern const std::array<EnemyBehaviour, kEnemyTypeCount> EnemyBehaviourTable;

// Behaviours of the four bosses (enemy types 23-26).
void BossBehaviour0(EnemyRecord& enemy);
void BossBehaviour1(EnemyRecord& enemy);
void BossBehaviour2(EnemyRecord& enemy);
void BossBehaviour3(EnemyRecord& enemy);

// Frees the slot. The hit box and the angle stay as they were.
void ClearEnemy(EnemyRecord& enemy);
const EnemyType& TypeOf(const EnemyRecord& enemy);

// Takes the first free slot (-1 when none). An enemy that would overlap the player is cleared
// again, and its slot index is still returned.
int SpawnEnemy(int x, int y, int type, int parameter);
// The same, but tells whether the enemy is really there afterwards.
bool SpawnedEnemyPlaced(int slot);

// Bullets of the enemy type's bullet type along the enemy's angle, or along `angle`. Flag bit 0
// keeps the bullet's place in the world; bit 1 adds the enemy's own velocity.
void FireEnemyBullet(EnemyRecord& enemy, int flags);
void FireEnemyBulletAngle(EnemyRecord& enemy, int flags, double angle);

// Heads for the target; 0 on arrival (position set, phase + 1, timer -1), else 1.
int MoveEnemyToward(EnemyRecord& enemy, int targetX, int targetY, int speed);

// vx = trunc(cos(theta) x speed), vy = trunc(sin(theta) x speed).
void SetVelocityAlong(GameBody& body, double theta, double speed);
// The enemy's world column, (x / 16 + scroll position) / 32.
int WorldColumn(const GameBody& body);
double AimAtPlayer(const EnemyRecord& enemy);

void UpdateEnemies();
