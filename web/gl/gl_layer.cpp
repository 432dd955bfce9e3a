// OpenGL 1.1 and gluPerspective, as far as Orvane calls them, over WebGL 2.
// One record of GL state; one shader pair whose uniforms are that state; each
// entry point a thin function over the record. WebGL is reached through its
// emscripten_gl* names, free of the entry points defined here.
#include <GL/gl.h>
#include <GL/glu.h>
// Only the emscripten_gl* names: the GLES ones would clash with GL 1.1's.
#define GL_GLES_PROTOTYPES 0
#include <webgl/webgl1.h>
#include <webgl/webgl2.h>

#include <algorithm>
#include <cstddef>
#include <map>
#include <set>
#include <vector>

#include "call_text.h"
#include "gl_math.h"

#ifdef ORVANE_GL_RECORD
#include <emscripten/emscripten.h>
#include <string>

EM_JS(void, appendRecordedCall, (const char* line), {
    (globalThis.orvaneGlCalls = globalThis.orvaneGlCalls || []).push(UTF8ToString(line));
});

namespace {
void recordCall(const std::string& line) {
    appendRecordedCall(line.c_str());
}
}  // namespace
#define RECORD(...) recordCall(webgl::callText(__VA_ARGS__))
#define RECORD_RESULT(result, ...) \
    recordCall(webgl::callText(__VA_ARGS__) + " = " + webgl::text(result))
#else
// Unevaluated: the arguments are checked by the compiler, never formatted.
#define RECORD(...) static_cast<void>(sizeof webgl::callText(__VA_ARGS__))
#define RECORD_RESULT(result, ...) \
    static_cast<void>(sizeof webgl::text(result)), RECORD(__VA_ARGS__)
#endif

using webgl::Bits;
using webgl::Blob;
using webgl::Enum;
using webgl::Mat4;
using webgl::Names;
using webgl::Vertex;

namespace {

const char* const vertexShader = R"(#version 300 es
uniform mat4 modelView;
uniform mat4 projection;
uniform mat3 normalMatrix;
uniform bvec2 sphereMapped;  // GL_TEXTURE_GEN_S, GL_TEXTURE_GEN_T
layout(location = 0) in vec4 position;
layout(location = 1) in vec3 normal;
layout(location = 2) in vec2 texCoord;
layout(location = 3) in vec4 color;
out vec2 fragmentTexCoord;
out vec4 fragmentColor;

// As webgl::sphereMap computes it.
vec2 sphereMap(vec3 eye, vec3 n) {
    vec3 u = normalize(eye);
    vec3 r = u - 2.0 * n * dot(n, u);
    float m = 2.0 * sqrt(r.x * r.x + r.y * r.y + (r.z + 1.0) * (r.z + 1.0));
    return r.xy / m + 0.5;
}

// Both passes over the ring must land on the same depths for GL_LEQUAL.
invariant gl_Position;

void main() {
    vec4 eye = modelView * position;
    vec2 generated = sphereMap(eye.xyz, normalMatrix * normal);
    fragmentTexCoord = vec2(sphereMapped.x ? generated.x : texCoord.x,
                            sphereMapped.y ? generated.y : texCoord.y);
    fragmentColor = color;
    gl_Position = projection * eye;
}
)";

// An RGB texture: its colour replaces or scales the fragment's; alpha stays.
const char* const fragmentShader = R"(#version 300 es
precision highp float;
uniform bool textured;
uniform bool replace;  // GL_REPLACE, else GL_MODULATE
uniform sampler2D picture;
in vec2 fragmentTexCoord;
in vec4 fragmentColor;
out vec4 color;

void main() {
    vec3 texel = texture(picture, fragmentTexCoord).rgb;
    color = fragmentColor;
    if (textured) color.rgb = replace ? texel : color.rgb * texel;
}
)";

enum Attribute : GLuint { positionAt, normalAt, texCoordAt, colorAt };

constexpr int matrixDepth = 32;  // Mesa's, for both stacks
constexpr int attribDepth = 16;

struct MatrixStack {
    Mat4 levels[matrixDepth];
    int top;
};

struct Enables {
    bool texture2D, depthTest, cullFace, blend, texGenS, texGenT, lighting;
};

struct List {
    GLuint buffer;
    GLsizei count;  // triangle vertices
};

struct State {
    // The WebGL objects, made on the first draw.
    GLuint program = 0, streamBuffer = 0;
    GLint modelViewAt = -1, projectionAt = -1, normalMatrixAt = -1, sphereMappedAt = -1,
          texturedAt = -1, replaceAt = -1;

    MatrixStack modelView{{webgl::identity()}, 0}, projection{{webgl::identity()}, 0};
    MatrixStack* matrices = &modelView;

    Enables enables{};
    struct Saved {
        GLbitfield mask;
        Enables enables;
    } saved[attribDepth];
    int savedCount = 0;
    bool replace = false;  // GL_TEXTURE_ENV_MODE is GL_MODULATE
    GLint unpackAlignment = 4;

    // A texture without an image leaves fragments untextured, as in GL 1.1;
    // WebGL would sample it as black.
    GLuint boundTexture = 0;
    std::set<GLuint> texturesWithImage;
    GLint maxTextureSize = 0;

    // Current vertex attributes. Calls compiled into a list set them too;
    // the program's lists set every normal and texture coordinate they use.
    float normal[3] = {0, 0, 1};
    float texCoord[2] = {0, 0};
    float color[4] = {1, 1, 1, 1};

    // Between glBegin and glEnd; reserved once, so frames allocate nothing.
    bool inside = false;
    GLenum primitive = 0;
    std::vector<Vertex> vertices, triangles;

    // Display lists; only compiling allocates.
    std::map<GLuint, List> lists;
    unsigned long long nextList = 1;
    GLuint compiling = 0;
    std::vector<Vertex> compiled;

    State() {
        vertices.reserve(256);
        triangles.reserve(384);
    }
};

State gl;

Mat4& currentMatrix() {
    return gl.matrices->levels[gl.matrices->top];
}

void multiplyCurrent(const Mat4& m) {
    currentMatrix() = webgl::multiply(currentMatrix(), m);
}

void setCap(GLenum cap, bool on) {
    auto webglCap = [&](bool* flag) {
        *flag = on;
        on ? emscripten_glEnable(cap) : emscripten_glDisable(cap);
    };
    switch (cap) {
    case GL_TEXTURE_2D: gl.enables.texture2D = on; break;
    case GL_TEXTURE_GEN_S: gl.enables.texGenS = on; break;
    case GL_TEXTURE_GEN_T: gl.enables.texGenT = on; break;
    case GL_LIGHTING: gl.enables.lighting = on; break;  // never drawn: always off here
    case GL_DEPTH_TEST: webglCap(&gl.enables.depthTest); break;
    case GL_CULL_FACE: webglCap(&gl.enables.cullFace); break;
    case GL_BLEND: webglCap(&gl.enables.blend); break;
    default: break;
    }
}

GLuint compileShader(GLenum type, const char* source) {
    const GLuint shader = emscripten_glCreateShader(type);
    emscripten_glShaderSource(shader, 1, &source, nullptr);
    emscripten_glCompileShader(shader);
    return shader;
}

void makePipeline() {
    gl.program = emscripten_glCreateProgram();
    emscripten_glAttachShader(gl.program, compileShader(GL_VERTEX_SHADER, vertexShader));
    emscripten_glAttachShader(gl.program, compileShader(GL_FRAGMENT_SHADER, fragmentShader));
    emscripten_glLinkProgram(gl.program);
    emscripten_glUseProgram(gl.program);
    gl.modelViewAt = emscripten_glGetUniformLocation(gl.program, "modelView");
    gl.projectionAt = emscripten_glGetUniformLocation(gl.program, "projection");
    gl.normalMatrixAt = emscripten_glGetUniformLocation(gl.program, "normalMatrix");
    gl.sphereMappedAt = emscripten_glGetUniformLocation(gl.program, "sphereMapped");
    gl.texturedAt = emscripten_glGetUniformLocation(gl.program, "textured");
    gl.replaceAt = emscripten_glGetUniformLocation(gl.program, "replace");
    emscripten_glGenBuffers(1, &gl.streamBuffer);
    for (GLuint at : {positionAt, normalAt, texCoordAt}) emscripten_glEnableVertexAttribArray(at);
}

// Into the bound array buffer.
void upload(const std::vector<Vertex>& vertices, GLenum usage) {
    emscripten_glBufferData(GL_ARRAY_BUFFER, vertices.size() * sizeof(Vertex), vertices.data(),
                            usage);
}

GLuint newBuffer(const std::vector<Vertex>& vertices, GLenum usage) {
    if (!gl.program) makePipeline();
    GLuint buffer = 0;
    emscripten_glGenBuffers(1, &buffer);
    emscripten_glBindBuffer(GL_ARRAY_BUFFER, buffer);
    upload(vertices, usage);
    return buffer;
}

void uniformMatrix(GLint at, const Mat4& m) {
    float f[16];
    std::copy(m.m, m.m + 16, f);
    emscripten_glUniformMatrix4fv(at, 1, GL_FALSE, f);
}

// Draws `count` vertices of `buffer`; those without colours of their own
// take the current one.
void draw(GLenum mode, GLuint buffer, GLsizei count, bool ownColors) {
    // The state record into the uniforms.
    const Mat4& modelView = gl.modelView.levels[gl.modelView.top];
    uniformMatrix(gl.modelViewAt, modelView);
    uniformMatrix(gl.projectionAt, gl.projection.levels[gl.projection.top]);
    const webgl::Mat3 normalMatrix = webgl::normalMatrix(modelView);
    float n[9];
    std::copy(normalMatrix.m, normalMatrix.m + 9, n);
    emscripten_glUniformMatrix3fv(gl.normalMatrixAt, 1, GL_FALSE, n);
    emscripten_glUniform2i(gl.sphereMappedAt, gl.enables.texGenS, gl.enables.texGenT);
    emscripten_glUniform1i(gl.texturedAt,
                           gl.enables.texture2D && gl.texturesWithImage.count(gl.boundTexture));
    emscripten_glUniform1i(gl.replaceAt, gl.replace);

    // The vertices' layout in their buffer.
    emscripten_glBindBuffer(GL_ARRAY_BUFFER, buffer);
    auto layout = [](Attribute at, GLint size, std::size_t offset) {
        emscripten_glVertexAttribPointer(at, size, GL_FLOAT, GL_FALSE, sizeof(Vertex),
                                         reinterpret_cast<const void*>(offset));
    };
    layout(positionAt, 4, offsetof(Vertex, position));
    layout(normalAt, 3, offsetof(Vertex, normal));
    layout(texCoordAt, 2, offsetof(Vertex, texCoord));
    if (ownColors) {
        layout(colorAt, 4, offsetof(Vertex, color));
        emscripten_glEnableVertexAttribArray(colorAt);
    } else {
        emscripten_glDisableVertexAttribArray(colorAt);
        emscripten_glVertexAttrib4fv(colorAt, gl.color);
    }

    // One draw call.
    emscripten_glDrawArrays(mode, 0, count);
}

void vertex(double x, double y, double z) {
    if (!gl.inside) return;
    Vertex v{{float(x), float(y), float(z), 1}, {}, {}, {}};
    std::copy(gl.normal, gl.normal + 3, v.normal);
    std::copy(gl.texCoord, gl.texCoord + 2, v.texCoord);
    std::copy(gl.color, gl.color + 4, v.color);
    gl.vertices.push_back(v);
}

void color(double r, double g, double b, double a) {
    const double rgba[] = {r, g, b, a};
    for (int i = 0; i < 4; ++i) gl.color[i] = float(std::clamp(rgba[i], 0.0, 1.0));
}

}  // namespace

extern "C" {

// Immediate mode.

void glBegin(GLenum mode) {
    RECORD("glBegin", "mode", Enum{mode});
    if (gl.inside || (mode != GL_QUADS && mode != GL_LINE_STRIP)) return;
    gl.inside = true;
    gl.primitive = mode;
    gl.vertices.clear();
}

void glEnd() {
    RECORD("glEnd");
    if (!gl.inside) return;
    gl.inside = false;
    if (gl.compiling) {
        // Lists keep quads, the only primitive the program compiles.
        if (gl.primitive == GL_QUADS) webgl::appendQuadTriangles(gl.vertices, &gl.compiled);
        return;
    }
    if (!gl.program) makePipeline();
    const std::vector<Vertex>* drawn = &gl.vertices;
    GLenum mode = GL_LINE_STRIP;
    if (gl.primitive == GL_QUADS) {
        gl.triangles.clear();
        webgl::appendQuadTriangles(gl.vertices, &gl.triangles);
        drawn = &gl.triangles;
        mode = GL_TRIANGLES;
    }
    // This primitive's vertices into the stream buffer, then drawn.
    emscripten_glBindBuffer(GL_ARRAY_BUFFER, gl.streamBuffer);
    upload(*drawn, GL_STREAM_DRAW);
    draw(mode, gl.streamBuffer, GLsizei(drawn->size()), true);
}

void glVertex2d(GLdouble x, GLdouble y) {
    RECORD("glVertex2d", "x", x, "y", y);
    vertex(x, y, 0);
}

void glVertex2f(GLfloat x, GLfloat y) {
    RECORD("glVertex2f", "x", x, "y", y);
    vertex(x, y, 0);
}

void glVertex3d(GLdouble x, GLdouble y, GLdouble z) {
    RECORD("glVertex3d", "x", x, "y", y, "z", z);
    vertex(x, y, z);
}

void glNormal3d(GLdouble nx, GLdouble ny, GLdouble nz) {
    RECORD("glNormal3d", "nx", nx, "ny", ny, "nz", nz);
    gl.normal[0] = float(nx);
    gl.normal[1] = float(ny);
    gl.normal[2] = float(nz);
}

void glTexCoord2d(GLdouble s, GLdouble t) {
    RECORD("glTexCoord2d", "s", s, "t", t);
    gl.texCoord[0] = float(s);
    gl.texCoord[1] = float(t);
}

void glColor3d(GLdouble red, GLdouble green, GLdouble blue) {
    RECORD("glColor3d", "red", red, "green", green, "blue", blue);
    color(red, green, blue, 1);
}

void glColor4d(GLdouble red, GLdouble green, GLdouble blue, GLdouble alpha) {
    RECORD("glColor4d", "red", red, "green", green, "blue", blue, "alpha", alpha);
    color(red, green, blue, alpha);
}

// Display lists: compiled into one buffer, drawn with one call.

GLuint glGenLists(GLsizei range) {
    GLuint first = 0;
    if (range > 0 && gl.nextList + range <= 0xFFFFFFFFull) {
        first = GLuint(gl.nextList);
        gl.nextList += range;
    }
    RECORD_RESULT(first, "glGenLists", "range", range);
    return first;
}

void glNewList(GLuint list, GLenum mode) {
    RECORD("glNewList", "list", list, "mode", Enum{mode});
    if (list == 0 || mode != GL_COMPILE || gl.compiling || gl.inside) return;
    gl.compiling = list;
    gl.compiled.clear();
    gl.nextList = std::max(gl.nextList, list + 1ull);
}

void glEndList() {
    RECORD("glEndList");
    if (!gl.compiling || gl.inside) return;
    List& list = gl.lists[gl.compiling];
    if (list.buffer) emscripten_glDeleteBuffers(1, &list.buffer);
    list = {newBuffer(gl.compiled, GL_STATIC_DRAW), GLsizei(gl.compiled.size())};
    gl.compiling = 0;
    std::vector<Vertex>().swap(gl.compiled);
}

void glCallList(GLuint list) {
    RECORD("glCallList", "list", list);
    const auto found = gl.lists.find(list);
    // Lists are not kept inside lists.
    if (gl.compiling || found == gl.lists.end() || found->second.count == 0) return;
    draw(GL_TRIANGLES, found->second.buffer, found->second.count, false);
}

void glDeleteLists(GLuint list, GLsizei range) {
    RECORD("glDeleteLists", "list", list, "range", range);
    if (range < 0) return;
    auto it = gl.lists.lower_bound(list);
    while (it != gl.lists.end() && it->first < list + (unsigned long long)range) {
        emscripten_glDeleteBuffers(1, &it->second.buffer);
        it = gl.lists.erase(it);
    }
}

// Matrices.

void glMatrixMode(GLenum mode) {
    RECORD("glMatrixMode", "mode", Enum{mode});
    if (mode == GL_MODELVIEW) gl.matrices = &gl.modelView;
    if (mode == GL_PROJECTION) gl.matrices = &gl.projection;
}

void glLoadIdentity() {
    RECORD("glLoadIdentity");
    currentMatrix() = webgl::identity();
}

void glPushMatrix() {
    RECORD("glPushMatrix");
    MatrixStack& s = *gl.matrices;
    if (s.top + 1 == matrixDepth) return;
    s.levels[s.top + 1] = s.levels[s.top];
    ++s.top;
}

void glPopMatrix() {
    RECORD("glPopMatrix");
    if (gl.matrices->top > 0) --gl.matrices->top;
}

void glMultMatrixd(const GLdouble* m) {
    RECORD("glMultMatrixd", "m", webgl::Matrix{m});
    Mat4 factor;
    std::copy(m, m + 16, factor.m);
    multiplyCurrent(factor);
}

void glTranslated(GLdouble x, GLdouble y, GLdouble z) {
    RECORD("glTranslated", "x", x, "y", y, "z", z);
    multiplyCurrent(webgl::translation(x, y, z));
}

void glTranslatef(GLfloat x, GLfloat y, GLfloat z) {
    RECORD("glTranslatef", "x", x, "y", y, "z", z);
    multiplyCurrent(webgl::translation(x, y, z));
}

void glRotated(GLdouble angle, GLdouble x, GLdouble y, GLdouble z) {
    RECORD("glRotated", "angle", angle, "x", x, "y", y, "z", z);
    multiplyCurrent(webgl::rotation(angle, x, y, z));
}

void glScalef(GLfloat x, GLfloat y, GLfloat z) {
    RECORD("glScalef", "x", x, "y", y, "z", z);
    multiplyCurrent(webgl::scaling(x, y, z));
}

void glOrtho(GLdouble left, GLdouble right, GLdouble bottom, GLdouble top, GLdouble zNear,
             GLdouble zFar) {
    RECORD("glOrtho", "left", left, "right", right, "bottom", bottom, "top", top, "zNear", zNear,
           "zFar", zFar);
    if (const auto m = webgl::ortho(left, right, bottom, top, zNear, zFar)) multiplyCurrent(*m);
}

// GLU's own: a matrix handed to glMultMatrixd.
void gluPerspective(GLdouble fovy, GLdouble aspect, GLdouble zNear, GLdouble zFar) {
    if (const auto m = webgl::perspective(fovy, aspect, zNear, zFar)) glMultMatrixd(m->m);
}

void glViewport(GLint x, GLint y, GLsizei width, GLsizei height) {
    RECORD("glViewport", "x", x, "y", y, "width", width, "height", height);
    emscripten_glViewport(x, y, width, height);
}

// Textures.

void glGenTextures(GLsizei n, GLuint* textures) {
    emscripten_glGenTextures(n, textures);
    RECORD("glGenTextures", "n", n, "textures", Names{n, textures});
}

void glBindTexture(GLenum target, GLuint texture) {
    RECORD("glBindTexture", "target", Enum{target}, "texture", texture);
    gl.boundTexture = texture;
    emscripten_glBindTexture(target, texture);
}

void glTexImage2D(GLenum target, GLint level, GLint internalFormat, GLsizei width, GLsizei height,
                  GLint border, GLenum format, GLenum type, const GLvoid* pixels) {
    // Rows padded to the unpack alignment, all but the last.
    const int align = gl.unpackAlignment;
    const long long row = (width * 3ll + align - 1) / align * align;
    const long long bytes = width > 0 && height > 0 ? (height - 1) * row + width * 3ll : 0;
    RECORD("glTexImage2D", "target", Enum{target}, "level", level, "internalformat",
           Enum{GLenum(internalFormat)}, "width", width, "height", height, "border", border,
           "format", Enum{format}, "type", Enum{type}, "pixels", Blob{bytes});
    emscripten_glTexImage2D(target, level, internalFormat, width, height, border, format, type,
                            pixels);
    // What WebGL takes: the one level, within the browser's size limit.
    if (!gl.maxTextureSize) emscripten_glGetIntegerv(GL_MAX_TEXTURE_SIZE, &gl.maxTextureSize);
    const bool taken = level == 0 && border == 0 && width > 0 && height > 0 &&
                       width <= gl.maxTextureSize && height <= gl.maxTextureSize;
    if (taken) gl.texturesWithImage.insert(gl.boundTexture);
    else if (level == 0) gl.texturesWithImage.erase(gl.boundTexture);
}

void glTexParameteri(GLenum target, GLenum pname, GLint param) {
    RECORD("glTexParameteri", "target", Enum{target}, "pname", Enum{pname}, "param",
           Enum{GLenum(param)});
    emscripten_glTexParameteri(target, pname, param);
}

void glDeleteTextures(GLsizei n, const GLuint* textures) {
    RECORD("glDeleteTextures", "n", n, "textures", Names{n, textures});
    for (GLsizei i = 0; i < n; ++i) {
        gl.texturesWithImage.erase(textures[i]);
        if (textures[i] == gl.boundTexture) gl.boundTexture = 0;
    }
    emscripten_glDeleteTextures(n, textures);
}

void glPixelStorei(GLenum pname, GLint param) {
    RECORD("glPixelStorei", "pname", Enum{pname}, "param", param);
    const bool valid = param == 1 || param == 2 || param == 4 || param == 8;
    if (pname != GL_UNPACK_ALIGNMENT || !valid) return;
    gl.unpackAlignment = param;
    emscripten_glPixelStorei(pname, param);
}

void glTexEnvi(GLenum target, GLenum pname, GLint param) {
    RECORD("glTexEnvi", "target", Enum{target}, "pname", Enum{pname}, "param", Enum{GLenum(param)});
    if (target == GL_TEXTURE_ENV && pname == GL_TEXTURE_ENV_MODE &&
        (param == GL_REPLACE || param == GL_MODULATE))
        gl.replace = param == GL_REPLACE;
}

// The sphere map is the only generation there is; enabling picks it.
void glTexGeni(GLenum coord, GLenum pname, GLint param) {
    RECORD("glTexGeni", "coord", Enum{coord}, "pname", Enum{pname}, "param", Enum{GLenum(param)});
}

// Capabilities and the rest of the fragment stage.

void glEnable(GLenum cap) {
    RECORD("glEnable", "cap", Enum{cap});
    setCap(cap, true);
}

void glDisable(GLenum cap) {
    RECORD("glDisable", "cap", Enum{cap});
    setCap(cap, false);
}

void glPushAttrib(GLbitfield mask) {
    RECORD("glPushAttrib", "mask", Bits{mask});
    if (gl.savedCount < attribDepth) gl.saved[gl.savedCount++] = {mask, gl.enables};
}

void glPopAttrib() {
    RECORD("glPopAttrib");
    if (gl.savedCount == 0) return;
    const State::Saved& s = gl.saved[--gl.savedCount];
    if (!(s.mask & GL_ENABLE_BIT)) return;
    setCap(GL_TEXTURE_2D, s.enables.texture2D);
    setCap(GL_DEPTH_TEST, s.enables.depthTest);
    setCap(GL_CULL_FACE, s.enables.cullFace);
    setCap(GL_BLEND, s.enables.blend);
    setCap(GL_TEXTURE_GEN_S, s.enables.texGenS);
    setCap(GL_TEXTURE_GEN_T, s.enables.texGenT);
    setCap(GL_LIGHTING, s.enables.lighting);
}

void glDepthFunc(GLenum func) {
    RECORD("glDepthFunc", "func", Enum{func});
    emscripten_glDepthFunc(func);
}

void glBlendFunc(GLenum sfactor, GLenum dfactor) {
    RECORD("glBlendFunc", "sfactor", Enum{sfactor}, "dfactor", Enum{dfactor});
    emscripten_glBlendFunc(sfactor, dfactor);
}

void glClearColor(GLclampf red, GLclampf green, GLclampf blue, GLclampf alpha) {
    RECORD("glClearColor", "red", red, "green", green, "blue", blue, "alpha", alpha);
    emscripten_glClearColor(red, green, blue, alpha);
}

void glClear(GLbitfield mask) {
    RECORD("glClear", "mask", Bits{mask});
    emscripten_glClear(mask);
}

// WebGL interpolates perspective-correctly whatever the hint.
void glHint(GLenum target, GLenum mode) {
    RECORD("glHint", "target", Enum{target}, "mode", Enum{mode});
}

void glFlush() {
    RECORD("glFlush");
    emscripten_glFlush();
}

}  // extern "C"
