#pragma once
// The scene object of one loaded model: its mesh hierarchy, simulation,
// control object and drawable, the matrix-cache stream, and the render and
// simulation settings read from the model's configuration file. One Run
// exists at a time (currentRun).
//
// Construction reads configuration pass 1, the mesh (binary cache or text
// levels), centres and refines it, reads pass 2 (forces, classification),
// the parameter file and opens the matrix cache. The control object and the
// drawable live on the GL side: startSimulation creates them through the
// caller's FrontEnd, so this layer never links GL.
//
// Files: Run.cpp (construction, paths, start), RunConfig.cpp (pass 1),
// RunForces.cpp (pass 2), RunMeshText.cpp (text mesh levels and parameter
// file), RunMeshCache.cpp (binary mesh cache),
// RunPreprocess.cpp (numbering, simulation set-up), RunBenchmark.cpp
// (timing loops).

#include <cstdint>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "AtomicFile.h"
#include "ElementModel.h"
#include "RenderSettings.h"
#include "SimulationSettings.h"

class FiniteElement;
class Simulation;
class TetHierarchy;
class ZoltControl;
class ZoltRenderable;
struct DeformationForce;
struct Vertex;

// Element kinds; the value is stored in the mesh cache.
enum class ElementType : int {
  TRIANGLE = 0,
  QUAD = 1,
  TRIANGLE3D = 2,
  TETRAHEDRON = 3,
  SERENDIPITY_TET = 4,
  QUADRATIC_QUAD = 5,
  HEXAHEDRON = 6,
};

// "cacheCauchy" .. "cacheExplicit"; "cache" for a value outside the enum.
const char* cacheWord(ElementModel model);

// Directories of the model files, the caches and saved frames, each ending
// in "/" and joined to file names by concatenation; set at start-up.
extern std::string modelsPath;
extern std::string cachesPath;
extern std::string moviesPath;

// Where configuration pass 1 met a keyword of pass 2: its position in that
// pass's table and the file offset just after the keyword.
struct ConfigPlace {
  size_t keyword;
  long long offset;
};

class Run;
// The loaded model; null while none is loaded.
extern Run* currentRun;

// How startSimulation makes, links, starts and frees the GL-side objects.
// Supplied by the window layer; a missing function is skipped.
struct FrontEnd {
  std::function<ZoltControl*(Run&)> createControl;
  std::function<ZoltRenderable*(Run&, ZoltControl*)> createDrawable;
  std::function<void(ZoltControl*, ZoltRenderable*)> setRenderData;
  std::function<void(ZoltControl*, ZoltRenderable*, int framesPerSecond)> startLoop;
  std::function<void(ZoltRenderable*)> deleteDrawable;
  std::function<void(ZoltControl*)> deleteControl;
};

class Run {
 public:
  std::unique_ptr<TetHierarchy> hierarchy;  // level 0 coarsest; null while refused early
  std::vector<int> fixedVertices;           // 0-based finest-level positions
  std::fstream matrixCache;                 // the matrix cache being read
  zolt::AtomicFile newMatrixCache;  // the matrix cache being written, committed by preprocess
  uint8_t generateCache = 0;        // 1: the matrix cache is being (re)written
  std::unique_ptr<Simulation> simulation;
  ZoltRenderable* renderable = nullptr;  // owned; freed through frontEnd.deleteDrawable
  ZoltControl* control = nullptr;        // owned; freed through frontEnd.deleteControl
  ElementType elementType = ElementType::TETRAHEDRON;
  ElementModel elementModel;
  int integrationScheme;
  uint8_t dim = 3;
  int levels = 1;
  int partitions = 1;
  RenderSettings renderSettings;
  SimulationSettings settings;
  uint8_t readHierarchy = 0;    // every level comes from the mesh files
  uint8_t fixedFromParams = 0;  // the parameter file listed fixed vertices
  uint8_t meshFromCache = 0;
  std::string meshCachePath;
  std::string matrixCachePath;
  std::unique_ptr<std::vector<MeshEntry>> meshEntries;  // MESH entries; null until the first
  // Pass 2 entries as pass 1 found them, and what those that shape the
  // caches (classification, bellows) hold: their values and the files read.
  std::vector<ConfigPlace> forcePlaces;
  std::string shapingEntries;
  std::vector<std::string> shapingFiles;
  // Per level, the vertex count before the mesh file being read.
  std::vector<int> vertexOffsets;
  // Per level, the number of the first vertex of the node file being read
  // (0 or 1); the element file counts its vertex numbers from it.
  std::vector<int> vertexBases;
  // The node file last read holds more than the blocks read (a level
  // hierarchy's further levels).
  bool nodeFileContinues = false;
  // Where an element file first gave a level no element, for the refusal.
  std::string emptyElementBlock;
  // Set when the model cannot be used (a configuration value that does not
  // parse, no finest-level element, a fixed vertex that does not exist): the
  // constructor stops after its message and only the destructor may follow.
  uint8_t refused = 0;
  // mappingRoom() once level 0 is read, from the mesh files or the mesh
  // cache: what is mapped after it (finer levels, matrices) is part of the
  // model's figure in checkMemory.
  uint64_t roomBeforeRefined = 0;
  FrontEnd frontEnd;  // set by startSimulation

  // name: the bare model name. Missing configuration or mesh files end the
  // program with exit code 1 after their message.
  Run(const char* name, bool rebuildCaches, int elementModel, int integrationScheme);
  // Frees the drawable, the control object, the simulation, the hierarchy,
  // then the settings (barrier, force field, material).
  ~Run();
  Run(const Run&) = delete;
  Run& operator=(const Run&) = delete;

  // Configuration pass 1. Also reads the values of the pass-2 entries, keeps
  // where they stand, and records those that shape the caches. False when a
  // value does not parse or the file is not text (reported once); the model
  // is then refused.
  bool readConfig(const char* path);
  // Configuration pass 2: forces, force field, classification, at the
  // places pass 1 kept. Needs the hierarchy and the force field. False as
  // readConfig.
  bool readForces(const char* path);
  // Rewrites the MATERIAL values (lambda, mu, density, damping, friction,
  // time step) of a configuration file as E, nu and the rest.
  static void writeMaterial(const char* path, const double material[6]);
  // The configuration text read from `in` with its MATERIAL values
  // rewritten (appended when it has none); every other line is kept as it
  // was, each ended by "\n".
  static std::string rewriteMaterial(std::istream& in, const double material[6]);

  // Binary mesh cache; true when it exists, matches the configuration and
  // the model files, every count and index in it is consistent and its seal
  // holds (else the hierarchy is kept).
  bool readMesh(const char* path);
  // Writes the hierarchy with its numbering; a failed write removes the file.
  void writeMesh(const char* path);

  // Numbers the fixed vertices first, completes and caches the mesh, builds
  // the partitions and (createSimulation) the simulation, rebuilding a stale
  // matrix cache once. Sets `refused`, after one line, when a 2-D dimension
  // meets the tetrahedral mesh or the model would not fit the memory this
  // process may use (checkMemory).
  void preprocess(bool createSimulation);
  // Fixed vertices get numbers 0 .. *fixedCount-1, the others follow in
  // array order; duplicate entries count once and entries that match no
  // vertex are dropped (one line each kind, the first few listed).
  // markCoarseLevels flags the coarse vertex nearest to each fixed one.
  // Vertices that no finest element uses are fixed as well (one warning):
  // free, they would leave empty rows in the system.
  void sortVertices(int* fixedCount, bool markCoarseLevels);
  // Completes the fixed set on every level above 0: a vertex interpolated
  // from fixed vertices alone (a copy of one, a midpoint between two, or a
  // vertex read with READ_HIERARCHY whose weighted parents are all fixed) is
  // fixed too, so that a clamped face stays clamped at every LEVEL. The
  // finest level is numbered fixed first again, *fixedCount grows, and one
  // line says how many vertices were added there.
  void holdBetweenFixed(int* fixedCount);

  // Text mesh levels: node and element blocks of `levels` levels. A missing
  // file or a bad count, number or value ends the program with exit code 1
  // after one "Error: ..." line naming the file and the item.
  void readNodeLevel(const char* path, int levels, const float* matrix);
  void readEleLevel(const char* path, int levels);
  // Ends the program (exitBadFile) at the first element of `level` from
  // position `first` on whose corners lie in one plane or whose volume is
  // too small for single precision (a tiny SCALE).
  void refuseFlatElements(const char* path, int level, size_t first) const;
  // Ends the program (exitBadFile) when an element of `level` from position
  // `first` on has the four vertices of an earlier one; the lines named
  // count from the block that starts at byte `start` of the file.
  void refuseRepeatedElements(const char* path, int level, size_t first,
                              std::streamoff start) const;
  // A warning naming the first line after the last block read that holds
  // more than blanks or a '#' comment.
  void warnUnreadLines(std::istream& in, const char* path, int level) const;
  // Ends the program (exitBadFile) when the element block header at byte
  // `start` of `text` does not give 4 vertices and 0 or 1 extras per element.
  void refuseElementHeader(const std::string& text, std::streamoff start, const char* path,
                           int level) const;
  // Optional per-element stiffness and density and the fixed vertices.
  // Factors that are not positive and finite are refused (one line) and the
  // element keeps its own.
  void readParamsValues(const char* path);
  void writeParamsValues(const char* path) const;
  void writeParamsValues(std::ostream& out) const;
  void writeNodeLevel(const char* path, int levels) const;
  void flagSurfaces(const char* name);
  void writeEleFlags(const char* path, int levels) const;

  // Stiffness and density of the finest elements from a byte volume of
  // nx * ny * nz samples over box (xmin, xmax, ymin, ymax, zmin, zmax) and
  // two 256-entry tables. A flat box or a non-positive count is refused.
  // Without apply the files are only checked and reported.
  static void classifyByVolume(TetHierarchy* h, int nx, int ny, int nz, const char* volumeFile,
                               const float box[6], const char* stiffnessTable,
                               const char* densityTable, bool apply = true);
  // Softens the elements around the finest vertex nearest to point (or
  // around vertex) and pushes their other nodes away from it with
  // `magnitude`.
  static void addBellow(TetHierarchy* h, std::vector<VertexForce>* forces, float magnitude,
                        const float* point, Vertex* vertex);
  // Implant field (type 5) over the soft finest elements (stiffness <= 0.1).
  // False, and the field unchanged, when there is none.
  static bool addImplant(DeformationForce* field, float a, float b, float c);

  // Finest-level vertex for a 1-based configuration number (READ_HIERARCHY:
  // the finest vertex nearest to that level-0 vertex); null when none.
  Vertex* configVertex(int number) const;

  // Steps the simulation for `seconds` simulated seconds of (int)(1 / time
  // step) steps each, gravity switched on after even seconds and off after
  // odd ones, and prints per second "<i>. \tsimulation second:   \tratio =
  // <r>;  \tfps = <r * steps>", r being simulated over wall seconds. False,
  // with a message, when the element model created no simulation.
  bool benchmark(int seconds);
  // The same stepping, printing "<steps per wall second> fps" per second;
  // a negative count runs until the process ends.
  bool printFps(int seconds = -1);

 private:
  void construct(const char* name, bool rebuildCaches);
  // False, reported, when refining level 0 to `levels` would not fit in
  // physical memory.
  bool readMeshText(const char* name);
  // Fingerprint of the files readMeshText and readParamsValues read and of
  // the configuration values pass 1 applied or recorded that shape the mesh
  // and matrix caches.
  uint64_t sourceFingerprint(const char* name) const;
  // Every fixed vertex names a finest-level vertex; else the model is refused.
  bool checkFixedVertices(const char* name);
  void openCaches(const char* name, bool generate);
  // Refusals of preprocess: false, after one line, with `refused` set.
  bool checkDimension();
  // The model and its coarse solve (dense inverse or sparse factor, from
  // its symbolic analysis) against usableMemory() and mappingRoom(), given
  // back what the load has mapped since roomBeforeRefined: before a refinement
  // and again in preprocess, with one figure for one model. A shortage is
  // one line, `who` first, and sets `refused`.
  bool checkMemory(const std::string& who, const char* advice);
  // Appends to `fixed` the numbers of the finest vertices no element uses.
  void holdUnusedVertices(std::vector<int>& fixed) const;
  bool timedSeconds(const char* method, int seconds,
                    const std::function<void(int second, double ms, int steps)>& report);
};

// Creates the control object and the drawable through frontEnd, links them,
// and starts the frame loop at (int)(1 / time step) frames per second.
void startSimulation(Run* run, bool withControl, bool withDrawable, const FrontEnd& frontEnd);

// Finest tetrahedra of a level 0 of `coarseElements` refined to `levels`.
double finestElements(uint64_t coarseElements, int levels);
// Estimated bytes of a model of `finestElements` at the two peaks of its
// load: while its finest matrix is assembled, and while its coarsest level
// is factored (the factor itself not included).
uint64_t refinedModelBytes(double finestElements);
uint64_t modelBytesAtCoarseSolve(double finestElements, int levels);

// Target frame rate of a time step: 1 / dt truncated toward zero.
int framesPerSecond(double timeStep);
