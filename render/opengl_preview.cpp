// The OpenGL preview window through GLUT.
#include "render/opengl_preview.h"

#define GL_GLEXT_PROTOTYPES 1
#include <GL/freeglut.h>
#include <GL/gl.h>
#include <GL/glext.h>
#include <GL/glu.h>

#include <cmath>

#include "geometry/shape.h"
#include "render/preview_shading.h"
#include "render/preview_window.h"

namespace quorva {

// Points of one pixel are lost on a screen: a few pixels a side show the vertices.
constexpr float PointSize = 3;

OpenGlPreview* OpenGlPreview::ofCallback() {
    return static_cast<OpenGlPreview*>(glutGetWindowData());
}

// Exposure: the frame as last read back, without depth test or lighting.
void OpenGlPreview::onDisplay() {
    OpenGlPreview* preview = ofCallback();
    if (!preview || preview->lastFrame_.empty()) return;
    glPushAttrib(GL_ENABLE_BIT);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_LIGHTING);
    glWindowPos2i(0, 0);
    glDrawPixels(preview->width_, preview->height_, GL_RGBA, GL_UNSIGNED_BYTE, preview->lastFrame_.data());
    glPopAttrib();
    glutSwapBuffers();
}

void OpenGlPreview::onKeyboard(unsigned char key, int, int) {
    if (OpenGlPreview* preview = ofCallback()) preview->keys_.push_back(key);
}

void OpenGlPreview::onClose() {
    if (OpenGlPreview* preview = ofCallback()) preview->closed_ = true;
}

std::unique_ptr<OpenGlPreview> OpenGlPreview::open(int width, int height, std::string& problem,
                                                   const std::string& title) {
    if (!openWindowSystem(problem)) return nullptr;
    glutInitDisplayMode(GLUT_DOUBLE | GLUT_RGBA | GLUT_DEPTH);
    glutInitWindowPosition(0, 0);
    glutInitWindowSize(width, height);
    int id = glutCreateWindow(title.c_str());
    std::unique_ptr<OpenGlPreview> preview(new OpenGlPreview(width, height, id));
    glutSetWindowData(preview.get());
    glutDisplayFunc(onDisplay);
    glutKeyboardFunc(onKeyboard);
    glutCloseFunc(onClose);
    glShadeModel(GL_SMOOTH);
    glEnable(GL_DEPTH_TEST);
    glEnable(GL_COLOR_MATERIAL);
    glEnable(GL_NORMALIZE);
    glClearDepth(1.0);
    glLineWidth(1.0);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glPointSize(PointSize);
    glutMainLoopEvent();
    return preview;
}

OpenGlPreview::~OpenGlPreview() {
    if (!closed_) {
        glutSetWindowData(nullptr);
        glutDestroyWindow(windowId_);
        glutMainLoopEvent();
    }
    if (glutGet(GLUT_INIT_STATE)) glutExit();
}

void OpenGlPreview::setTitle(const std::string& title) {
    if (closed_) return;
    glutSetWindow(windowId_);
    glutSetWindowTitle(title.c_str());
    glutMainLoopEvent();
}

void OpenGlPreview::handleEvents() {
    if (!closed_) glutMainLoopEvent();
}

bool OpenGlPreview::takeKey(int& key) {
    if (keys_.empty()) return false;
    key = keys_.front();
    keys_.erase(keys_.begin());
    return true;
}

void OpenGlPreview::beginFrame(const PreviewView& view, const std::vector<PreviewLight>& lights) {
    if (closed_) return;
    eye_ = view.location;
    filled_ = view.polygonMode != 1 && view.polygonMode != 2;
    glutSetWindow(windowId_);
    glViewport(0, 0, width_, height_);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(view.fieldOfView, view.aspect, view.nearClip, view.farClip);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    gluLookAt(view.location.x, view.location.y, view.location.z, view.pointOfInterest.x,
              view.pointOfInterest.y, view.pointOfInterest.z, view.up.x, view.up.y, view.up.z);
    glClearColor(static_cast<float>(view.background[0]), static_cast<float>(view.background[1]),
                 static_cast<float>(view.background[2]), 1.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    // The projection is mirrored, which turns the winding of every face around, and the cuts do not
    // wind their triangles consistently anyway: faces are lit one-sided, by their normals. Filled
    // faces turn their normals towards the eye, so that the side seen is the side lit (the back of
    // a disc seen from below). Points and lines keep the normals they have: the far side of a solid
    // shows through them, lit as its own side is. Two-sided lighting would take the faces towards the
    // eye for back faces and light them from the mirrored side.
    glDisable(GL_CULL_FACE);
    glLightModeli(GL_LIGHT_MODEL_TWO_SIDE, GL_FALSE);
    for (int i = 0; i < 8; ++i) glDisable(GL_LIGHT0 + i);
    for (std::size_t i = 0; i < lights.size() && i < 8; ++i) {
        const PreviewLight& l = lights[i];
        GLenum id = GL_LIGHT0 + static_cast<GLenum>(i);
        GLfloat position[4] = {float(l.position.x), float(l.position.y), float(l.position.z), 1.0f};
        GLfloat colour[4] = {float(l.colour[0]), float(l.colour[1]), float(l.colour[2]), 1.0f};
        glLightfv(id, GL_POSITION, position);
        glLightfv(id, GL_DIFFUSE, colour);
        glLightfv(id, GL_SPECULAR, colour);
        glLightf(id, GL_CONSTANT_ATTENUATION, l.decay == 0 ? 1.0f : 0.0f);
        glLightf(id, GL_LINEAR_ATTENUATION, l.decay == 1 ? 1.0f : 0.0f);
        glLightf(id, GL_QUADRATIC_ATTENUATION, l.decay == 2 ? 1.0f : 0.0f);
        glEnable(id);
    }
    glEnable(GL_LIGHTING);
    GLenum mode = view.polygonMode == 1 ? GL_POINT : view.polygonMode == 2 ? GL_LINE : GL_FILL;
    glPolygonMode(GL_FRONT_AND_BACK, mode);
    glBegin(GL_TRIANGLES);
}

namespace {

// With `eye`, a normal pointing away from it is turned around.
void emitVertex(const PreviewVertex& v, const Color& colour, const Vec3* eye) {
    glColor3d(colour[0], colour[1], colour[2]);
    Vec3 n = v.normal;
    if (eye) {
        const Vec3 toEye = *eye - v.point;
        if (n.x * toEye.x + n.y * toEye.y + n.z * toEye.z < 0) n = -n;
    }
    glNormal3d(n.x, n.y, n.z);
    if (v.hasTexcoord) glTexCoord2d(v.texcoord.x, v.texcoord.y);
    glVertex3d(v.point.x, v.point.y, v.point.z);
}

}  // namespace

Color OpenGlPreview::colourAt(const PreviewVertex& v) {
    return shading_ ? shading_->vertexColour(surface_, v) : Color{0.8, 0.8, 0.8};
}

void OpenGlPreview::triangle(const PreviewVertex& a, const PreviewVertex& b, const PreviewVertex& c,
                             unsigned /*edges*/) {
    if (closed_) return;
    const Vec3 face = faceNormal(a.point, b.point, c.point);
    const PreviewVertex* corners[3] = {&a, &b, &c};
    bool inside[3] = {true, true, true};
    int kept = 3;
    if (surface_.clip)
        for (int i = 0; i < 3; ++i) kept -= !(inside[i] = surface_.clip->accepts(corners[i]->point));
    if (kept == 0) return;
    // A CSG component's triangle straddling its Solid's boundary keeps only its corners inside, as a
    // polygon of its own.
    if (kept < 3) {
        glEnd();
        glBegin(GL_POLYGON);
    }
    for (int i = 0; i < 3; ++i) {
        if (!inside[i]) continue;
        PreviewVertex v = *corners[i];
        if (v.normal.x == 0 && v.normal.y == 0 && v.normal.z == 0) v.normal = face;
        emitVertex(v, colourAt(v), eyeIfFilled());
    }
    if (kept < 3) {
        glEnd();
        glBegin(GL_TRIANGLES);
    }
}

// A grid's vertices with normals are coloured once each; those without take each face's normal.
void OpenGlPreview::grid(const PreviewVertex* vertices, int uCount, int vCount, bool topEdges) {
    if (closed_) return;
    if (surface_.clip) {
        TriangleSink::grid(vertices, uCount, vCount, topEdges);
        return;
    }
    const std::size_t row = static_cast<std::size_t>(uCount) + 1;
    const std::size_t count = row * (static_cast<std::size_t>(vCount) + 1);
    gridColours_.resize(count);
    for (std::size_t i = 0; i < count; ++i) {
        const Vec3& n = vertices[i].normal;
        if (n.x != 0 || n.y != 0 || n.z != 0) gridColours_[i] = colourAt(vertices[i]);
    }
    auto corner = [&](std::size_t k, const Vec3& face) {
        const PreviewVertex& v = vertices[k];
        if (v.normal.x != 0 || v.normal.y != 0 || v.normal.z != 0) {
            emitVertex(v, gridColours_[k], eyeIfFilled());
        } else {
            PreviewVertex flat = v;
            flat.normal = face;
            emitVertex(flat, colourAt(flat), eyeIfFilled());
        }
    };
    for (std::size_t j = 0; j < static_cast<std::size_t>(vCount); ++j) {
        for (std::size_t i = 0; i < static_cast<std::size_t>(uCount); ++i) {
            const std::size_t a = j * row + i, b = a + 1, c = b + row, d = a + row;
            const Vec3 first = faceNormal(vertices[a].point, vertices[b].point, vertices[c].point);
            corner(a, first);
            corner(b, first);
            corner(c, first);
            const Vec3 second = faceNormal(vertices[a].point, vertices[c].point, vertices[d].point);
            corner(a, second);
            corner(c, second);
            corner(d, second);
        }
    }
}

void OpenGlPreview::endFrame() {
    if (closed_) return;
    glEnd();
    glFinish();
    lastFrame_.assign(static_cast<std::size_t>(width_) * static_cast<std::size_t>(height_) * 4, 0);
    glReadBuffer(GL_BACK);
    glReadPixels(0, 0, width_, height_, GL_RGBA, GL_UNSIGNED_BYTE, lastFrame_.data());
    glutSwapBuffers();
    glutMainLoopEvent();
}

}  // namespace quorva
